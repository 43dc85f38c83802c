#include <gtest/gtest.h>

#include <utility>

#include "verify/system_version.h"

namespace corvel {
namespace {

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
