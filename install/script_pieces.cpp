#include "install/script_pieces.h"

#include "common/fixed_paths.h"

namespace corvel::script {
namespace {

// The directories above the target, top down, separated by blanks.
std::string directoryChain() {
  std::string chain;
  for (std::size_t i = 0; i + 1 < kGuardedPaths.size(); ++i) {
    if (i > 0) chain += ' ';
    chain += kGuardedPaths[i];
  }
  return chain;
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

std::string joinedLines(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += '\n';
    text += lines[i];
  }
  return text;
}

std::string setting() {
  return joinedLines({
      "set -eu",
      "PATH=/usr/bin:/bin:/usr/sbin:/sbin",
      "export PATH",
      "umask 077",
      "fail() { echo 'CORVEL_DRIVER_CHECK_FAILED' >&2; exit 1; }",
  });
}

std::string rootTest() { return "[ \"$(/usr/bin/id -u)\" = 0 ] || fail"; }

std::string directoryChainTests(const std::string& whenMissing) {
  return joinedLines({
      "for directory in " + directoryChain() + "; do",
      "    [ ! -L \"$directory\" ] || fail",
      whenMissing,
      "    [ -d \"$directory\" ] || fail",
      "    [ \"$(/usr/bin/stat -f %u \"$directory\")\" = 0 ] || fail",
      "    mode=$(/usr/bin/stat -f %Lp \"$directory\")",
      "    [ \"$((0$mode & 022))\" = 0 ] || fail",
      "done",
  });
}

std::string targetAssignment() { return "target=" + shellQuoted(std::string(kTargetPath)); }

std::string lockAndCleanup() {
  return joinedLines({
      // One run at a time; only the holder of the lock cleans up.
      "lock=" + std::string(kPlugInDirectory) + "/.tessaro-corvel-install.lock",
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
  });
}

std::string temporaryDirectory() {
  return "temporary=$(/usr/bin/mktemp -d " + std::string(kPlugInDirectory) + "/.tessaro-corvel.XXXXXXXX)";
}

std::string signatureTest(const std::string& requirement, const std::string& word) {
  return "/usr/bin/codesign --verify --deep --strict --test-requirement " + shellQuoted(requirement) + " " +
         word + " || fail";
}

}  // namespace corvel::script
