#include <gtest/gtest.h>

#include <string>

#include "install/uninstall_script.h"
#include "verify/build_manifest.h"

namespace corvel {
namespace {

// The whole script for an awkward requirement, written out by hand. Its
// setting, chain, lock, cleanup and traps are the install script's, line for
// line; any drift in any byte shows here.
constexpr const char* kExpectedScript = R"SCRIPT(set -eu
PATH=/usr/bin:/bin:/usr/sbin:/sbin
export PATH
umask 077
fail() { echo 'CORVEL_DRIVER_CHECK_FAILED' >&2; exit 1; }
[ "$(/usr/bin/id -u)" = 0 ] || fail
for directory in /Library /Library/Audio /Library/Audio/Plug-Ins /Library/Audio/Plug-Ins/HAL; do
    [ ! -L "$directory" ] || fail
    if [ ! -e "$directory" ]; then echo CORVEL_DRIVER_NOT_PRESENT; exit 0; fi
    [ -d "$directory" ] || fail
    [ "$(/usr/bin/stat -f %u "$directory")" = 0 ] || fail
    mode=$(/usr/bin/stat -f %Lp "$directory")
    [ "$((0$mode & 022))" = 0 ] || fail
done
target='/Library/Audio/Plug-Ins/HAL/Orlana2ch.driver'
[ ! -L "$target" ] || fail
if [ ! -e "$target" ]; then
    echo CORVEL_DRIVER_NOT_PRESENT
    exit 0
fi
[ -d "$target" ] || fail
lock=/Library/Audio/Plug-Ins/HAL/.tessaro-corvel-install.lock
/bin/mkdir -m 700 "$lock" || fail
temporary=''
cleanup() {
    trap '' HUP INT QUIT PIPE TERM
    set +e
    if [ -n "$temporary" ]; then /bin/rm -rf -- "$temporary"; fi
    /bin/rmdir "$lock"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 131' QUIT
trap 'exit 141' PIPE
trap 'exit 143' TERM
[ ! -L "$target" ] || fail
if [ ! -e "$target" ]; then
    echo CORVEL_DRIVER_NOT_PRESENT
    exit 0
fi
[ -d "$target" ] || fail
/usr/bin/codesign --verify --deep --strict --test-requirement '=req "Q" it'\''s' "$target" || fail
temporary=$(/usr/bin/mktemp -d /Library/Audio/Plug-Ins/HAL/.tessaro-corvel.XXXXXXXX)
removed="$temporary/Orlana2ch.driver"
/bin/mv -n "$target" "$removed"
[ -d "$removed" ] && [ ! -L "$removed" ] || fail
/bin/rm -rf -- "$removed"
echo CORVEL_DRIVER_REMOVED)SCRIPT";

TEST(UninstallCommand, IsTheExactScriptByteForByte) {
  EXPECT_EQ(uninstallCommand("=req \"Q\" it's"), kExpectedScript);
}

TEST(UninstallCommand, ChecksThisBuildsSigningRequirement) {
  const std::string script = uninstallCommand();
  EXPECT_NE(script.find("--test-requirement '" + signatureRequirement() + "' \"$target\" || fail\n"),
            std::string::npos);
}

}  // namespace
}  // namespace corvel
