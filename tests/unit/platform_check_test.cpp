#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>

#include "common/install_failure.h"
#include "tests/support/recording_runner.h"
#include "verify/platform_check.h"

namespace corvel {
namespace {

constexpr const char* kPlatformMessage = "此安装包需要 Apple 芯片 Mac 和 macOS 14 或更新版本。";

struct PlatformCase {
  int major;
  const char* machine;
  bool accepted;
  bool unameRuns;
};

TEST(ValidatePlatform, AcceptsOnlyAppleSiliconWithMacOS14OrLater) {
  const PlatformCase cases[] = {
      {14, "arm64", true, true},   {15, "arm64", true, true},   {26, "arm64", true, true},
      {13, "arm64", false, false}, {0, "arm64", false, false},  {14, "x86_64", false, true},
      {14, "ARM64", false, true},  {14, "arm64e", false, true}, {14, "", false, true},
  };
  for (const PlatformCase& c : cases) {
    testing::RecordingRunner uname;
    uname.answer = [&c] { return std::string(c.machine); };
    const std::string label = std::to_string(c.major) + "/" + c.machine;
    if (c.accepted) {
      EXPECT_NO_THROW(validatePlatform(c.major, uname.runner())) << label;
    } else {
      try {
        validatePlatform(c.major, uname.runner());
        ADD_FAILURE() << label << " accepted";
      } catch (const InstallFailure& failure) {
        EXPECT_EQ(failure.message, kPlatformMessage) << label;
      }
    }
    if (c.unameRuns) {
      EXPECT_EQ(uname.calls, (std::vector<std::vector<std::string>>{{"/usr/bin/uname", "-m"}})) << label;
    } else {
      EXPECT_TRUE(uname.calls.empty()) << label;
    }
  }
}

TEST(ValidatePlatform, PassesTheRunnersErrorsOnUnchanged) {
  const Runner failing = [](const std::string&, const std::vector<std::string>&) -> std::string {
    throw InstallFailure("安装文件未通过完整性检查。请重新下载完整安装包。");
  };
  try {
    validatePlatform(14, failing);
    FAIL();
  } catch (const InstallFailure& failure) {
    EXPECT_EQ(failure.message, "安装文件未通过完整性检查。请重新下载完整安装包。");
  }
  const Runner unstartable = [](const std::string&, const std::vector<std::string>&) -> std::string {
    throw std::system_error(ENOENT, std::generic_category(), "cannot start /usr/bin/uname");
  };
  EXPECT_THROW(validatePlatform(14, unstartable), std::system_error);
}

}  // namespace
}  // namespace corvel
