#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/plist_text.h"

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

}  // namespace
}  // namespace corvel
