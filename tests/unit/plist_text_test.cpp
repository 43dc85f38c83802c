#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/plist_text.h"
#include "verify/system_version.h"

namespace corvel {
namespace {

struct PlistCase {
  const char* xml;
  std::optional<std::string> value;
};

TEST(PlistString, ReadsTheStringAfterItsKey) {
  const PlistCase cases[] = {
      {"<dict><key>K</key><string>v</string></dict>", "v"},
      {"<dict>\n\t<key>K</key>\n\t<string>14.6.1</string>\n</dict>", "14.6.1"},
      {"<key>K</key><string>a &amp; b &lt;c&gt; &#x4E2D;&#25991;</string>", "a & b <c> 中文"},
      {"<key>K</key><string/>", ""},
      {"<key>K</key><string></string>", ""},
      {"<key>Other</key><string>v</string>", std::nullopt},
      {"<key>K</key><integer>14</integer>", std::nullopt},
      {"<key>K</key><string>unterminated", std::nullopt},
      {"<key>K</key><string>bad &entity; here</string>", std::nullopt},
      {"<key>KK</key><string>no</string>", std::nullopt},
      {"", std::nullopt},
  };
  for (const PlistCase& c : cases) EXPECT_EQ(plistString(c.xml, "K"), c.value) << c.xml;
}

TEST(MajorVersion, IsTheNumberBeforeTheFirstDot) {
  const std::pair<const char*, int> cases[] = {
      {"14.0", 14},
      {"13.6", 13},
      {"15.1.2", 15},
      {"26", 26},
      {"", 0},
      {"abc", 0},
      {"14a.1", 0},
      {" 14.0", 0},
      {".14", 0},
      {"-14.0", 0},
      {"99999999999999999999.0", 0},
  };
  for (const auto& [text, major] : cases) EXPECT_EQ(majorVersionOf(text), major) << text;
}

}  // namespace
}  // namespace corvel
