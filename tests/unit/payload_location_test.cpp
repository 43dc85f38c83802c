#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/install_failure.h"
#include "verify/payload_location.h"

namespace corvel {
namespace {

TEST(PayloadURL, AppendsTheBundleNameToTheResourceDirectory) {
  EXPECT_EQ(payloadURL(std::optional<std::string>("/A.app/Contents/Resources")),
            "/A.app/Contents/Resources/Orlana2ch.driver");
  EXPECT_EQ(payloadURL(std::optional<std::string>("/nowhere/at/all")), "/nowhere/at/all/Orlana2ch.driver");
  try {
    payloadURL(std::nullopt);
    FAIL();
  } catch (const InstallFailure& failure) {
    EXPECT_EQ(failure.message, "安装包不完整，请重新下载。");
  }
}

}  // namespace
}  // namespace corvel
