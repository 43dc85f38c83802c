#pragma once

#include "verify/run.h"

namespace corvel {

// Refuses any machine but an Apple-silicon Mac with macOS 14 or later.
// `majorVersion` is the running system's; `runner` runs /usr/bin/uname.
// The runner's own errors pass through unchanged.
void validatePlatform(int majorVersion, const Runner& runner);

// The same, for the machine this program runs on.
void validatePlatform();

}  // namespace corvel
