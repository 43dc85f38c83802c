#pragma once

#include <string>

namespace corvel {

// Writes all of `text` to the descriptor in as few writes as it takes, so a
// line is never left half written by a short write; a failure is thrown as
// the platform's error.
void writeAll(int fd, const std::string& text);

}  // namespace corvel
