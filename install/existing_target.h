#pragma once

#include <string>

namespace corvel {

// Whether a driver is already installed: true when a directory stands at the
// target path, false when nothing does. Throws an InstallFailure when any
// directory on the way to the target, or the target itself, is a symbolic
// link (dangling or not), or when something that is not a directory stands at
// the target. Changes nothing. `root` prefixes every path, so tests can point
// it at a scratch folder; the installer passes none.
bool checkExistingTarget(const std::string& root = "");

}  // namespace corvel
