#pragma once

#include <string>
#include <system_error>

namespace corvel {

// A failed system call, passed on as the platform's own error rather than as
// an InstallFailure. `what` names the operation and the path, so the text the
// user sees says what failed and where: `cannot read "/x/y": Permission denied`.
inline std::system_error platformError(int error, const std::string& what) {
  return std::system_error(error, std::generic_category(), what);
}

inline std::string quotedPath(const std::string& path) { return "\"" + path + "\""; }

}  // namespace corvel
