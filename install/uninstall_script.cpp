#include "install/uninstall_script.h"

#include "common/fixed_paths.h"
#include "install/script_pieces.h"
#include "verify/build_manifest.h"

namespace corvel {
namespace {

using script::joinedLines;

constexpr const char* kNotPresent = "echo CORVEL_DRIVER_NOT_PRESENT";

// Only a real directory at the target can be ours; nothing there is nothing
// to do. A link is refused whatever it points to, and nothing is followed.
// Made before the lock and again once it is held, when a removal that held
// it before may have taken the driver away.
std::string targetTest() {
  return joinedLines({
      "[ ! -L \"$target\" ] || fail",
      "if [ ! -e \"$target\" ]; then",
      "    " + std::string(kNotPresent),
      "    exit 0",
      "fi",
      "[ -d \"$target\" ] || fail",
  });
}

}  // namespace

std::string uninstallCommand() { return uninstallCommand(signatureRequirement()); }

std::string uninstallCommand(const std::string& requirement) {
  return joinedLines({
      script::setting(),
      script::rootTest(),
      // The directory chain as the install script demands it; a missing
      // directory means that nothing is installed, and nothing is made.
      script::directoryChainTests("    if [ ! -e \"$directory\" ]; then " + std::string(kNotPresent) +
                                  "; exit 0; fi"),
      script::targetAssignment(),
      targetTest(),
      script::lockAndCleanup(),
      targetTest(),
      // Ours, whatever its version: signed by the team with the driver's
      // identifier, its seal intact. Anything else is left as it is.
      script::signatureTest(requirement, "\"$target\""),
      // From the move on nothing of it stands at the target; the copy lies in
      // root's private directory, which the cleanup removes on every end, so
      // a run cut short never leaves a half-removed driver behind.
      script::temporaryDirectory(),
      "removed=\"$temporary/" + std::string(kPayloadName) + "\"",
      "/bin/mv -n \"$target\" \"$removed\"",
      "[ -d \"$removed\" ] && [ ! -L \"$removed\" ] || fail",
      "/bin/rm -rf -- \"$removed\"",
      "echo CORVEL_DRIVER_REMOVED",
  });
}

}  // namespace corvel
