#include "install/install_script.h"

#include <vector>

#include "common/fixed_paths.h"
#include "verify/build_manifest.h"

namespace corvel {
namespace {

std::string joinedLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += '\n';
    text += lines[i];
  }
  return text;
}

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

// The directories above the target, top down, separated by blanks.
std::string directoryChain() {
  std::string chain;
  for (std::size_t i = 0; i + 1 < kGuardedPaths.size(); ++i) {
    if (i > 0) chain += ' ';
    chain += kGuardedPaths[i];
  }
  return chain;
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

std::string shellQuoted(const std::string& value) {
  std::string quoted = "'";
  for (const char c : value) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string installCommand(const std::string& payload) {
  return installCommand(payload, BuildManifest::files(), signatureRequirement());
}

std::string installCommand(const std::string& payload, const std::map<std::string, std::string>& files,
                           const std::string& requirement) {
  const std::string plugInDirectory(kPlugInDirectory);
  return joinedLines({
      "set -eu",
      "PATH=/usr/bin:/bin:/usr/sbin:/sbin",
      "export PATH",
      "umask 077",
      "fail() { echo 'CORVEL_DRIVER_CHECK_FAILED' >&2; exit 1; }",
      // The platform, again, as root.
      "[ \"$(/usr/bin/id -u)\" = 0 ] || fail",
      "[ \"$(/usr/bin/uname -m)\" = arm64 ] || fail",
      "major=$(/usr/bin/sw_vers -productVersion | /usr/bin/cut -d . -f 1)",
      "[ \"$major\" -ge 14 ] || fail",
      // The directory chain: real directories, owned by root, writable by root alone.
      "for directory in " + directoryChain() + "; do",
      "    [ ! -L \"$directory\" ] || fail",
      "    if [ ! -e \"$directory\" ]; then /bin/mkdir -m 755 \"$directory\"; fi",
      "    [ -d \"$directory\" ] || fail",
      "    [ \"$(/usr/bin/stat -f %u \"$directory\")\" = 0 ] || fail",
      "    mode=$(/usr/bin/stat -f %Lp \"$directory\")",
      "    [ \"$((0$mode & 022))\" = 0 ] || fail",
      "done",
      // An existing driver is never replaced.
      "target=" + shellQuoted(std::string(kTargetPath)),
      targetTest(),
      // One run at a time; only the holder of the lock cleans up.
      "lock=" + plugInDirectory + "/.tessaro-corvel-install.lock",
      "/bin/mkdir -m 700 \"$lock\" || fail",
      "temporary=''",
      // Every removal is tried whatever the others did, and none changes the
      // run's exit status: errexit is off inside, and an EXIT trap that ends
      // normally keeps the status the run was ending with. From its first
      // line on, a further signal cannot cut it short, nor stop its rm and
      // rmdir, which inherit the ignored dispositions.
      "cleanup() {",
      "    trap '' HUP INT QUIT PIPE TERM",
      "    set +e",
      "    if [ -n \"$temporary\" ]; then /bin/rm -rf -- \"$temporary\"; fi",
      "    /bin/rmdir \"$lock\"",
      "}",
      // Each signal a run can meet short of SIGKILL ends it through the EXIT
      // trap, with 128 plus its number: without these, dash ends at an
      // untrapped HUP, QUIT or PIPE (the application gone, say, at the final
      // echo) without running it, and the lock stays.
      "trap cleanup EXIT",
      "trap 'exit 129' HUP",
      "trap 'exit 130' INT",
      "trap 'exit 131' QUIT",
      "trap 'exit 141' PIPE",
      "trap 'exit 143' TERM",
      // The private snapshot: the only read of the payload; every later check
      // and the move work on it.
      "temporary=$(/usr/bin/mktemp -d " + plugInDirectory + "/.tessaro-corvel.XXXXXXXX)",
      "snapshot=\"$temporary/" + std::string(kPayloadName) + "\"",
      "/usr/bin/ditto --norsrc --noextattr --noqtn --noacl " + shellQuoted(payload) + " \"$snapshot\"",
      "[ -d \"$snapshot\" ] && [ ! -L \"$snapshot\" ] || fail",
      "[ -z \"$(/usr/bin/find \"$snapshot\" ! -type d ! -type f -print)\" ] || fail",
      "count=$(/usr/bin/find \"$snapshot\" -type f | /usr/bin/wc -l | /usr/bin/tr -d ' ')",
      "[ \"$count\" = " + std::to_string(files.size()) + " ] || fail",
      digestLines(files),
      "/usr/bin/codesign --verify --deep --strict --test-requirement " + shellQuoted(requirement) +
          " \"$snapshot\" || fail",
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
