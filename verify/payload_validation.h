#pragma once

#include <map>
#include <string>

#include "verify/run.h"

namespace corvel {

// Relative path of each regular file below `payload` -> its digest text.
// Throws the invalid-payload InstallFailure unless the root is a real
// directory that can be listed (a root whose listing is refused gives no walk
// at all), the unsupported-type InstallFailure for a
// symbolic link or any entry that is neither a directory nor a regular file,
// and the platform's error for an entry that cannot be examined or read.
// When several entries fail, the one met first in the walk (names in byte
// order, each directory before its contents) is reported. A subdirectory
// that cannot be listed is walked past: what it holds is simply absent.
std::map<std::string, std::string> payloadInventory(const std::string& payload);

// Establishes that the bundle at `payload` is exactly the one this
// installer was built with: its inventory equals BuildManifest::files, then
// its signature satisfies signatureRequirement(), checked by running
// /usr/bin/codesign through `runner`.
void validatePayload(const std::string& payload, const Runner& runner = run);

// Runs /usr/bin/codesign through `runner` to verify the bundle at `bundle`
// (an absolute path without a trailing "/") deeply and strictly against
// signatureRequirement(). A refusal is the integrity InstallFailure that
// `run` throws; a codesign that cannot start is the platform's error.
void verifySignature(const std::string& bundle, const Runner& runner = run);

}  // namespace corvel
