#pragma once

#include <exception>
#include <string>
#include <utility>

namespace corvel {

// The installer's own failure: one fixed, user-facing sentence. The front end
// shows it as it stands, so `what()` is the whole message and nothing else.
class InstallFailure : public std::exception {
 public:
  explicit InstallFailure(std::string text) : message(std::move(text)) {}

  const char* what() const noexcept override { return message.c_str(); }

  const std::string message;
};

}  // namespace corvel
