#include "install/install_script.h"

#include <vector>

#include "common/fixed_paths.h"
#include "install/script_pieces.h"
#include "verify/build_manifest.h"

namespace corvel {
namespace {

using script::joinedLines;
using script::shellQuoted;

// One test per manifest entry, in path order (std::map iterates sorted by
// byte order): the snapshot's copy of the file must have the built digest.
std::string digestLines(const std::map<std::string, std::string>& files) {
  std::vector<std::string> lines;
  lines.reserve(files.size());
  for (const auto& [path, digest] : files) {
    lines.push_back("[ \"$(/usr/bin/shasum -a 256 \"$snapshot/" + path +
                    "\" | /usr/bin/cut -d ' ' -f 1)\" = " + shellQuoted(digest) + " ] || fail");
  }
  return joinedLines(lines);
}

// Nothing may stand at the target but a driver directory, which ends the run
// with the driver left as it is. Made before the lock and again before the move.
std::string targetTest() {
  return joinedLines({
      "[ ! -L \"$target\" ] || fail",
      "if [ -e \"$target\" ]; then",
      "    [ -d \"$target\" ] || fail",
      "    echo CORVEL_DRIVER_PRESENT",
      "    exit 0",
      "fi",
  });
}

}  // namespace

std::string installCommand(const std::string& payload) {
  return installCommand(payload, BuildManifest::files(), signatureRequirement());
}

std::string installCommand(const std::string& payload, const std::map<std::string, std::string>& files,
                           const std::string& requirement) {
  return joinedLines({
      script::setting(),
      // The platform, again, as root.
      script::rootTest(),
      "[ \"$(/usr/bin/uname -m)\" = arm64 ] || fail",
      "major=$(/usr/bin/sw_vers -productVersion | /usr/bin/cut -d . -f 1)",
      "[ \"$major\" -ge 14 ] || fail",
      // The directory chain: real directories, owned by root, writable by
      // root alone; a missing one is made.
      script::directoryChainTests(
          "    if [ ! -e \"$directory\" ]; then /bin/mkdir -m 755 \"$directory\"; fi"),
      // An existing driver is never replaced.
      script::targetAssignment(),
      targetTest(),
      script::lockAndCleanup(),
      // The private snapshot: the only read of the payload; every later check
      // and the move work on it.
      script::temporaryDirectory(),
      "snapshot=\"$temporary/" + std::string(kPayloadName) + "\"",
      "/usr/bin/ditto --norsrc --noextattr --noqtn --noacl " + shellQuoted(payload) + " \"$snapshot\"",
      "[ -d \"$snapshot\" ] && [ ! -L \"$snapshot\" ] || fail",
      "[ -z \"$(/usr/bin/find \"$snapshot\" ! -type d ! -type f -print)\" ] || fail",
      "count=$(/usr/bin/find \"$snapshot\" -type f | /usr/bin/wc -l | /usr/bin/tr -d ' ')",
      "[ \"$count\" = " + std::to_string(files.size()) + " ] || fail",
      digestLines(files),
      script::signatureTest(requirement, "\"$snapshot\""),
      "/usr/sbin/chown -R root:wheel \"$snapshot\"",
      "/usr/bin/find \"$snapshot\" -type d -exec /bin/chmod 755 {} +",
      "/usr/bin/find \"$snapshot\" -type f -exec /bin/chmod 644 {} +",
      "/bin/chmod 755 \"$snapshot/" + std::string(kDriverExecutable) + "\"",
      // The same test again, just before the move.
      targetTest(),
      "/bin/mv -n \"$snapshot\" \"$target\"",
      "[ ! -e \"$snapshot\" ] || fail",
      "echo CORVEL_DRIVER_INSTALLED",
  });
}

}  // namespace corvel
