#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "common/install_failure.h"
#include "install/existing_target.h"
#include "tests/support/scratch.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;

constexpr const char* kLink = "音频驱动目录使用了符号链接。为避免修改错误的位置，安装已停止。";
constexpr const char* kSameName = "音频驱动位置已有同名文件，安装已停止。请交由管理员检查。";

struct TargetCase {
  const char* name;
  std::function<void(const fs::path& root)> arrange;
  std::optional<bool> answer;  // none: the InstallFailure below
  const char* message;
};

const fs::path kHal = "Library/Audio/Plug-Ins/HAL";

TEST(CheckExistingTarget, AnswersOrStopsForEachStateOfTheInstallLocation) {
  const TargetCase cases[] = {
      {"nothing under the root at all", [](const fs::path&) {}, false, nullptr},
      {"empty HAL directory", [](const fs::path& r) { fs::create_directories(r / kHal); }, false, nullptr},
      {"driver directory present",
       [](const fs::path& r) { fs::create_directories(r / kHal / "Orlana2ch.driver/Contents"); }, true,
       nullptr},
      {"HAL is a regular file", [](const fs::path& r) { testing::writeFile(r / kHal, "x"); }, false, nullptr},
      {"a regular file at the target",
       [](const fs::path& r) { testing::writeFile(r / kHal / "Orlana2ch.driver", "x"); }, std::nullopt,
       kSameName},
      {"a named pipe at the target",
       [](const fs::path& r) {
         fs::create_directories(r / kHal);
         ASSERT_EQ(::mkfifo((r / kHal / "Orlana2ch.driver").c_str(), 0644), 0);
       },
       std::nullopt, kSameName},
      {"target is a link to a directory",
       [](const fs::path& r) {
         fs::create_directories(r / "elsewhere");
         fs::create_directories(r / kHal);
         fs::create_directory_symlink(r / "elsewhere", r / kHal / "Orlana2ch.driver");
       },
       std::nullopt, kLink},
      {"target is a link to a file",
       [](const fs::path& r) {
         testing::writeFile(r / "file", "x");
         fs::create_directories(r / kHal);
         fs::create_symlink(r / "file", r / kHal / "Orlana2ch.driver");
       },
       std::nullopt, kLink},
      {"target is a dangling link",
       [](const fs::path& r) {
         fs::create_directories(r / kHal);
         fs::create_symlink(r / "nowhere", r / kHal / "Orlana2ch.driver");
       },
       std::nullopt, kLink},
      {"Plug-Ins is a link to a directory holding the driver",
       [](const fs::path& r) {
         fs::create_directories(r / "real/HAL/Orlana2ch.driver");
         fs::create_directories(r / "Library/Audio");
         fs::create_directory_symlink(r / "real", r / "Library/Audio/Plug-Ins");
       },
       std::nullopt, kLink},
      {"HAL is a dangling link",
       [](const fs::path& r) {
         fs::create_directories(r / "Library/Audio/Plug-Ins");
         fs::create_symlink(r / "nowhere", r / kHal);
       },
       std::nullopt, kLink},
      {"Library itself is a link",
       [](const fs::path& r) {
         fs::create_directories(r / "real");
         fs::create_directory_symlink(r / "real", r / "Library");
       },
       std::nullopt, kLink},
  };
  for (const TargetCase& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::ScratchDir scratch;
    c.arrange(scratch.path());
    if (c.answer) {
      EXPECT_EQ(checkExistingTarget(scratch.path().string()), *c.answer);
    } else {
      try {
        checkExistingTarget(scratch.path().string());
        ADD_FAILURE() << "no failure";
      } catch (const InstallFailure& failure) {
        EXPECT_EQ(failure.message, c.message);
      }
    }
  }
}

}  // namespace
}  // namespace corvel
