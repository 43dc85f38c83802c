#include "install/installed_driver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "common/install_failure.h"
#include "tests/support/recording_runner.h"
#include "tests/support/scratch.h"
#include "verify/build_manifest.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;

constexpr const char* kIntegrity = "安装文件未通过完整性检查。请重新下载完整安装包。";
constexpr const char* kMatches = "INSTALLED_DRIVER_MATCHES";

void changeMode(const fs::path& path, mode_t mode) { ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path; }
void changeOwner(const fs::path& path, uid_t user, gid_t group) {
  ASSERT_EQ(::lchown(path.c_str(), user, group), 0) << path;
}

void flipFirstByte(const fs::path& path) {
  std::string text = testing::readFile(path);
  text[0] ^= 0x20;
  testing::writeFile(path, text);
}

// The bundle under a scratch root, as the install script leaves it: owned by
// 0:0, directories and the executable 755, files 644.
class InstalledDriverCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give the tree to user 0";
    codesign.answer = [this] {
      if (!codesignAccepts) throw InstallFailure(kIntegrity);
      return std::string();
    };
  }

  void install() {
    testing::copyShippedPayload(target);
    changeOwner(target, 0, 0);
    changeMode(target, 0755);
    for (const auto& entry : fs::recursive_directory_iterator(target)) {
      changeOwner(entry.path(), 0, 0);
      changeMode(entry.path(), entry.is_directory() ? 0755 : 0644);
    }
    changeMode(target / "Contents/MacOS/Orlana2ch", 0755);
  }

  std::string line() {
    return installedDriverLine(checkInstalledDriver(scratch.path().string(), codesign.runner()));
  }

  testing::ScratchDir scratch;
  fs::path target = scratch.path() / "Library/Audio/Plug-Ins/HAL/Orlana2ch.driver";
  testing::RecordingRunner codesign;
  bool codesignAccepts = true;
};

TEST_F(InstalledDriverCheck, NothingAtTheTargetIsNotInstalled) {
  EXPECT_EQ(line(), "DRIVER_NOT_INSTALLED");
  fs::create_directories(target.parent_path());
  EXPECT_EQ(line(), "DRIVER_NOT_INSTALLED");
  EXPECT_TRUE(codesign.calls.empty());
}

TEST_F(InstalledDriverCheck, TheTreeTheInstallScriptLeavesMatchesAfterOneSignatureCheck) {
  install();
  EXPECT_EQ(line(), kMatches);
  const std::vector<std::vector<std::string>> expected = {{"/usr/bin/codesign", "--verify", "--deep",
                                                           "--strict", "--test-requirement",
                                                           signatureRequirement(), target.string()}};
  EXPECT_EQ(codesign.calls, expected);
}

struct Change {
  const char* name;
  std::function<void(const fs::path& bundle)> apply;
  std::string line;
};

TEST_F(InstalledDriverCheck, ReportsTheFirstDifferenceByCheckThenByPath) {
  const std::string differs = "INSTALLED_DRIVER_DIFFERS ";
  const Change changes[] = {
      {"an extra empty directory as the script leaves it",
       [](const fs::path& b) { fs::create_directory(b / "Extra"); }, kMatches},
      {"a symbolic link, all files intact",
       [](const fs::path& b) { fs::create_symlink("Info.plist", b / "Contents/link"); },
       differs + "reason=type path=Contents/link"},
      {"a named pipe", [](const fs::path& b) { ASSERT_EQ(::mkfifo((b / "pipe").c_str(), 0644), 0); },
       differs + "reason=type path=pipe"},
      {"a link replacing a file is of the wrong type before the file is missing",
       [](const fs::path& b) {
         fs::remove(b / "Contents/Resources/VERSION");
         fs::create_symlink("/etc/hostname", b / "Contents/Resources/VERSION");
       },
       differs + "reason=type path=Contents/Resources/VERSION"},
      {"a link outranks a missing file that sorts first",
       [](const fs::path& b) {
         fs::remove(b / "Contents/Info.plist");
         fs::create_symlink("x", b / "zz");
       },
       differs + "reason=type path=zz"},
      {"a directory where a file belongs is missing",
       [](const fs::path& b) {
         fs::remove(b / "Contents/Info.plist");
         fs::create_directory(b / "Contents/Info.plist");
       },
       differs + "reason=missing path=Contents/Info.plist"},
      {"missing outranks an extra file that sorts first",
       [](const fs::path& b) {
         fs::remove(b / "Contents/_CodeSignature/CodeResources");
         testing::writeFile(b / "Contents/AAA", "");
       },
       differs + "reason=missing path=Contents/_CodeSignature/CodeResources"},
      {"a file moved to another directory",
       [](const fs::path& b) { fs::rename(b / "Contents/Resources/LICENSE", b / "Contents/LICENSE"); },
       differs + "reason=missing path=Contents/Resources/LICENSE"},
      {"extra outranks a changed owner",
       [](const fs::path& b) {
         changeOwner(b / "Contents/Info.plist", 501, 0);
         testing::writeFile(b / "Contents/zzz", "");
       },
       differs + "reason=extra path=Contents/zzz"},
      {"the lowest of two extra files, in byte order of the whole path",
       [](const fs::path& b) {
         testing::writeFile(b / "Contents/A/x", "");
         testing::writeFile(b / "Contents/A-x", "");
       },
       differs + "reason=extra path=Contents/A-x"},
      {"a group of its own is a changed owner",
       [](const fs::path& b) { changeOwner(b / "Contents/Resources", 0, 20); },
       differs + "reason=owner path=Contents/Resources"},
      {"owner outranks a mode that sorts first",
       [](const fs::path& b) {
         changeMode(b, 0775);
         changeOwner(b / "Contents/Resources/VERSION", 501, 20);
       },
       differs + "reason=owner path=Contents/Resources/VERSION"},
      {"the bundle's own directory comes first",
       [](const fs::path& b) {
         changeOwner(b / "Contents/Info.plist", 501, 20);
         changeOwner(b, 501, 20);
       },
       differs + "reason=owner path=."},
      {"a file of mode 664", [](const fs::path& b) { changeMode(b / "Contents/Resources/README.md", 0664); },
       differs + "reason=mode path=Contents/Resources/README.md"},
      {"a file of mode 755", [](const fs::path& b) { changeMode(b / "Contents/Info.plist", 0755); },
       differs + "reason=mode path=Contents/Info.plist"},
      {"the executable at 644", [](const fs::path& b) { changeMode(b / "Contents/MacOS/Orlana2ch", 0644); },
       differs + "reason=mode path=Contents/MacOS/Orlana2ch"},
      {"the executable set-user-ID",
       [](const fs::path& b) { changeMode(b / "Contents/MacOS/Orlana2ch", 04755); },
       differs + "reason=mode path=Contents/MacOS/Orlana2ch"},
      {"a directory of mode 700", [](const fs::path& b) { changeMode(b / "Contents/MacOS", 0700); },
       differs + "reason=mode path=Contents/MacOS"},
      {"the bundle's own directory at 775", [](const fs::path& b) { changeMode(b, 0775); },
       differs + "reason=mode path=."},
      {"an extra directory that is writable by its group",
       [](const fs::path& b) {
         fs::create_directory(b / "Extra");
         changeMode(b / "Extra", 0775);
       },
       differs + "reason=mode path=Extra"},
      {"mode outranks a changed byte",
       [](const fs::path& b) {
         flipFirstByte(b / "Contents/Info.plist");
         changeMode(b / "Contents/Resources/VERSION", 0600);
       },
       differs + "reason=mode path=Contents/Resources/VERSION"},
      {"the lowest of two changed files",
       [](const fs::path& b) {
         flipFirstByte(b / "Contents/Resources/VERSION");
         flipFirstByte(b / "Contents/MacOS/Orlana2ch");
       },
       differs + "reason=digest path=Contents/MacOS/Orlana2ch"},
      {"an empty file",
       [](const fs::path& b) { fs::resize_file(b / "Contents/_CodeSignature/CodeResources", 0); },
       differs + "reason=digest path=Contents/_CodeSignature/CodeResources"},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    fs::remove_all(target);
    install();
    codesign.calls.clear();
    change.apply(target);
    EXPECT_EQ(line(), change.line);
    // The signature is asked about only when all else holds.
    EXPECT_EQ(codesign.calls.size(), change.line == kMatches ? 1u : 0u);
  }
}

TEST_F(InstalledDriverCheck, ASignatureRefusalComesLastAndNamesTheBundle) {
  install();
  codesignAccepts = false;
  EXPECT_EQ(line(), "INSTALLED_DRIVER_DIFFERS reason=signature path=.");
  EXPECT_EQ(codesign.calls.size(), 1u);

  flipFirstByte(target / "Contents/Resources/LICENSE");
  codesign.calls.clear();
  EXPECT_EQ(line(), "INSTALLED_DRIVER_DIFFERS reason=digest path=Contents/Resources/LICENSE");
  EXPECT_TRUE(codesign.calls.empty());
}

TEST_F(InstalledDriverCheck, ACodesignThatCannotStartStopsTheCheck) {
  install();
  codesign.answer = []() -> std::string {
    throw std::system_error(ENOENT, std::generic_category(), "cannot start");
  };
  EXPECT_THROW(line(), std::system_error);
}

TEST(InstalledDriverLine, EncodesEveryByteOutsideTheSafeSetInThePath) {
  const std::pair<std::string, std::string> cases[] = {
      {"Contents/Info.plist", "Contents/Info.plist"},
      {"AZaz09._-/", "AZaz09._-/"},
      {".", "."},
      {"read me", "read%20me"},
      {"100%", "100%25"},
      {"a=b+c~d:e", "a%3Db%2Bc%7Ed%3Ae"},
      {"tab\there\nline", "tab%09here%0Aline"},
      {"caf\xC3\xA9", "caf%C3%A9"},  // UTF-8 é
      {"\xE9\xFF", "%E9%FF"},        // bytes that are no UTF-8 at all
      {std::string("nul\0x", 5), "nul%00x"},
  };
  for (const auto& [path, encoded] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(percentEncoded(path), encoded);
    const InstalledDriver differing{InstalledDriver::Verdict::differs, "extra", path};
    EXPECT_EQ(installedDriverLine(differing), "INSTALLED_DRIVER_DIFFERS reason=extra path=" + encoded);
  }
}

}  // namespace
}  // namespace corvel
