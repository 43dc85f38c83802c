#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "install/install_script.h"
#include "install/script_pieces.h"
#include "verify/build_manifest.h"

namespace corvel {
namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  if (!text.empty() && text.back() == '\n') lines.push_back("");
  return lines;
}

// The whole script for a two-entry manifest and an awkward source path,
// written out by hand. Any drift in any byte shows here.
constexpr const char* kExpectedScript = R"SCRIPT(set -eu
PATH=/usr/bin:/bin:/usr/sbin:/sbin
export PATH
umask 077
fail() { echo 'CORVEL_DRIVER_CHECK_FAILED' >&2; exit 1; }
[ "$(/usr/bin/id -u)" = 0 ] || fail
[ "$(/usr/bin/uname -m)" = arm64 ] || fail
major=$(/usr/bin/sw_vers -productVersion | /usr/bin/cut -d . -f 1)
[ "$major" -ge 14 ] || fail
for directory in /Library /Library/Audio /Library/Audio/Plug-Ins /Library/Audio/Plug-Ins/HAL; do
    [ ! -L "$directory" ] || fail
    if [ ! -e "$directory" ]; then /bin/mkdir -m 755 "$directory"; fi
    [ -d "$directory" ] || fail
    [ "$(/usr/bin/stat -f %u "$directory")" = 0 ] || fail
    mode=$(/usr/bin/stat -f %Lp "$directory")
    [ "$((0$mode & 022))" = 0 ] || fail
done
target='/Library/Audio/Plug-Ins/HAL/Orlana2ch.driver'
[ ! -L "$target" ] || fail
if [ -e "$target" ]; then
    [ -d "$target" ] || fail
    echo CORVEL_DRIVER_PRESENT
    exit 0
fi
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
temporary=$(/usr/bin/mktemp -d /Library/Audio/Plug-Ins/HAL/.tessaro-corvel.XXXXXXXX)
snapshot="$temporary/Orlana2ch.driver"
/usr/bin/ditto --norsrc --noextattr --noqtn --noacl '/Users/a b/rock'\''n'\''roll/X.app/Contents/Resources/Orlana2ch.driver' "$snapshot"
[ -d "$snapshot" ] && [ ! -L "$snapshot" ] || fail
[ -z "$(/usr/bin/find "$snapshot" ! -type d ! -type f -print)" ] || fail
count=$(/usr/bin/find "$snapshot" -type f | /usr/bin/wc -l | /usr/bin/tr -d ' ')
[ "$count" = 2 ] || fail
[ "$(/usr/bin/shasum -a 256 "$snapshot/Contents/MacOS/Orlana2ch" | /usr/bin/cut -d ' ' -f 1)" = '1111111111111111111111111111111111111111111111111111111111111111' ] || fail
[ "$(/usr/bin/shasum -a 256 "$snapshot/Contents/_CodeSignature/CodeResources" | /usr/bin/cut -d ' ' -f 1)" = '2222222222222222222222222222222222222222222222222222222222222222' ] || fail
/usr/bin/codesign --verify --deep --strict --test-requirement '=req "Q" it'\''s' "$snapshot" || fail
/usr/sbin/chown -R root:wheel "$snapshot"
/usr/bin/find "$snapshot" -type d -exec /bin/chmod 755 {} +
/usr/bin/find "$snapshot" -type f -exec /bin/chmod 644 {} +
/bin/chmod 755 "$snapshot/Contents/MacOS/Orlana2ch"
[ ! -L "$target" ] || fail
if [ -e "$target" ]; then
    [ -d "$target" ] || fail
    echo CORVEL_DRIVER_PRESENT
    exit 0
fi
/bin/mv -n "$snapshot" "$target"
[ ! -e "$snapshot" ] || fail
echo CORVEL_DRIVER_INSTALLED)SCRIPT";

TEST(InstallCommand, IsTheExactScriptByteForByte) {
  std::map<std::string, std::string> files;
  files.emplace("Contents/_CodeSignature/CodeResources", std::string(64, '2'));
  files.emplace("Contents/MacOS/Orlana2ch", std::string(64, '1'));
  EXPECT_EQ(installCommand("/Users/a b/rock'n'roll/X.app/Contents/Resources/Orlana2ch.driver", files,
                           "=req \"Q\" it's"),
            kExpectedScript);
}

// Where the count line stands: the digest lines follow it, then codesign.
std::size_t countLineOf(const std::vector<std::string>& lines) {
  const auto count = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("[ \"$count\" = ", 0) == 0;
  });
  EXPECT_NE(count, lines.end());
  return static_cast<std::size_t>(count - lines.begin());
}

TEST(InstallCommand, ThisBuildsScriptChecksEachManifestFileInPathOrder) {
  const std::string script = installCommand("/Applications/X.app/Contents/Resources/Orlana2ch.driver");
  const auto lines = linesOf(script);
  const auto& files = BuildManifest::files();
  EXPECT_EQ(script.find('\r'), std::string::npos);
  EXPECT_NE(script.back(), '\n');
  EXPECT_EQ(lines.back(), "echo CORVEL_DRIVER_INSTALLED");
  const std::size_t count = countLineOf(lines);
  ASSERT_LT(count + files.size() + 1, lines.size());
  EXPECT_EQ(lines[count], "[ \"$count\" = 8 ] || fail");

  // One digest line per entry, ascending by path, the code signature's seal last.
  std::vector<std::string> order;
  for (std::size_t i = count + 1; i <= count + files.size(); ++i) {
    const std::string& line = lines[i];
    const std::string prefix = "[ \"$(/usr/bin/shasum -a 256 \"$snapshot/";
    ASSERT_EQ(line.substr(0, prefix.size()), prefix) << line;
    const std::string path = line.substr(prefix.size(), line.find('"', prefix.size()) - prefix.size());
    EXPECT_NE(line.find("'" + files.at(path) + "'"), std::string::npos) << line;
    order.push_back(path);
  }
  EXPECT_EQ(order.size(), files.size());
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  EXPECT_EQ(order.back(), "Contents/_CodeSignature/CodeResources");
  EXPECT_EQ(lines[count + files.size() + 1],
            "/usr/bin/codesign --verify --deep --strict --test-requirement '" + signatureRequirement() +
                "' \"$snapshot\" || fail");
}

TEST(InstallCommand, AnEmptyManifestLeavesOneEmptyLine) {
  const auto lines = linesOf(installCommand("/src", {}, "=r"));
  const std::size_t count = countLineOf(lines);
  ASSERT_LT(count + 2, lines.size());
  EXPECT_EQ(lines[count], "[ \"$count\" = 0 ] || fail");
  EXPECT_EQ(lines[count + 1], "");
  EXPECT_EQ(lines[count + 2].rfind("/usr/bin/codesign ", 0), 0u) << lines[count + 2];
}

TEST(ShellQuoted, KeepsEveryCharacterButTheSingleQuoteAsItIs) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "''"},
      {"plain", "'plain'"},
      {"a b", "'a b'"},
      {"rock'n'roll", "'rock'\\''n'\\''roll'"},
      {"\"double\"", "'\"double\"'"},
      {"back\\slash", "'back\\slash'"},
      {"$HOME `x` $(y)", "'$HOME `x` $(y)'"},
      {"line\nbreak", "'line\nbreak'"},
      {"'", "''\\'''"},
  };
  for (const auto& [value, quoted] : cases) EXPECT_EQ(script::shellQuoted(value), quoted) << value;
}

}  // namespace
}  // namespace corvel
