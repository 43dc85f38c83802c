#pragma once

#include <string>
#include <vector>

namespace corvel {

// The response of the first button of an alert; the next ones follow it.
inline constexpr long kFirstButtonResponse = 1000;

// One modal alert at a time.
class Alerts {
 public:
  virtual ~Alerts() = default;
  // Shows a new alert with `title` as its message text, `message` as its
  // informative text and `buttons` in order; blocks until it closes and
  // returns its response (kFirstButtonResponse for the first button).
  virtual long present(const std::string& title, const std::string& message,
                       const std::vector<std::string>& buttons) = 0;
};

// NSAlert on macOS; elsewhere console alerts on standard output and input.
Alerts& systemAlerts();

}  // namespace corvel
