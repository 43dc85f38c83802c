// --check-installed as the Mac's user, on trees that the real install script
// installed and that were then changed: the line it prints, its failures,
// and that it changes nothing.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "install/install_script.h"
#include "tests/support/simulated_mac.h"
#include "verify/build_manifest.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;
using testing::expectRun;
using testing::MacSettings;
using testing::RunResult;
using testing::SimulatedMac;

const std::string kNotInstalled = "DRIVER_NOT_INSTALLED\n";
const std::string kMatches = "INSTALLED_DRIVER_MATCHES\n";
const std::string kDiffers = "INSTALLED_DRIVER_DIFFERS ";
const std::string kLink = "音频驱动目录使用了符号链接。为避免修改错误的位置，安装已停止。\n";
const std::string kSameName = "音频驱动位置已有同名文件，安装已停止。请交由管理员检查。\n";
const std::string kTarget = "/Library/Audio/Plug-Ins/HAL/Orlana2ch.driver";

void changeMode(const fs::path& path, mode_t mode) { ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path; }

class CheckInstalled : public testing::SimulatedMacTest {
 protected:
  // The tree the installer itself leaves: its script, run as root.
  void installWithTheInstallScript() {
    if (script_.empty()) {
      const RunResult printed = mac.runInstaller({"--print-install-script"});
      ASSERT_EQ(printed.status, 0) << printed.err;
      script_ = printed.out.substr(0, printed.out.size() - 1);
    }
    expectRun(mac.runAsRoot(script_), "CORVEL_DRIVER_INSTALLED\n", "", 0);
  }

  // A fresh /Library as the Mac ships it.
  void resetLibrary() {
    fs::remove_all(mac.disk() / "Library");
    fs::create_directories(mac.disk() / "Library");
    fs::permissions(mac.disk() / "Library", fs::perms(0755));
  }

 private:
  std::string script_;
};

struct TreeCase {
  const char* name;
  bool installed;
  std::function<void(const fs::path& bundle)> change;
  std::string out;
  bool codesignRefuses = false;
};

TEST_F(CheckInstalled, ComparesTheInstalledTreeWithTheManifest) {
  const TreeCase cases[] = {
      {"nothing installed", false, [](const fs::path&) {}, kNotInstalled},
      {"installed by the installer itself", true, [](const fs::path&) {}, kMatches},
      {"a changed byte", true,
       [](const fs::path& b) {
         std::string text = testing::readFile(b / "Contents/Resources/VERSION");
         text[0] ^= 0x01;
         testing::writeFile(b / "Contents/Resources/VERSION", text);
       },
       kDiffers + "reason=digest path=Contents/Resources/VERSION\n"},
      {"a missing file", true, [](const fs::path& b) { fs::remove(b / "Contents/Resources/LICENSE"); },
       kDiffers + "reason=missing path=Contents/Resources/LICENSE\n"},
      {"an extra file", true,
       [](const fs::path& b) { testing::writeFile(b / "Contents/Resources/notes.txt", "x"); },
       kDiffers + "reason=extra path=Contents/Resources/notes.txt\n"},
      {"an extra file with a blank and a non-ASCII byte in its name", true,
       [](const fs::path& b) { testing::writeFile(b / "Contents/Resources/read me\xE9.txt", "x"); },
       kDiffers + "reason=extra path=Contents/Resources/read%20me%E9.txt\n"},
      {"a symbolic link inside", true,
       [](const fs::path& b) { fs::create_symlink("Info.plist", b / "Contents/Info-link.plist"); },
       kDiffers + "reason=type path=Contents/Info-link.plist\n"},
      {"a named pipe inside", true,
       [](const fs::path& b) { ASSERT_EQ(::mkfifo((b / "Contents/MacOS/pipe").c_str(), 0644), 0); },
       kDiffers + "reason=type path=Contents/MacOS/pipe\n"},
      {"an owner changed", true,
       [](const fs::path& b) { ASSERT_EQ(::lchown((b / "Contents/Info.plist").c_str(), 501, 20), 0); },
       kDiffers + "reason=owner path=Contents/Info.plist\n"},
      {"a file of mode 664", true,
       [](const fs::path& b) { changeMode(b / "Contents/Resources/README.md", 0664); },
       kDiffers + "reason=mode path=Contents/Resources/README.md\n"},
      {"the executable at 644", true,
       [](const fs::path& b) { changeMode(b / "Contents/MacOS/Orlana2ch", 0644); },
       kDiffers + "reason=mode path=Contents/MacOS/Orlana2ch\n"},
      {"the bundle directory at 775", true, [](const fs::path& b) { changeMode(b, 0775); },
       kDiffers + "reason=mode path=.\n"},
      {"HAL that the user may search but not list", true,
       [](const fs::path& b) { changeMode(b.parent_path(), 0711); }, kMatches},
      {"codesign refusing", true, [](const fs::path&) {}, kDiffers + "reason=signature path=.\n", true},
  };
  for (const TreeCase& c : cases) {
    SCOPED_TRACE(c.name);
    resetLibrary();
    if (c.installed) installWithTheInstallScript();
    c.change(target());
    const std::vector<std::string> before =
        c.installed ? testing::treeListing(target()) : std::vector<std::string>{};
    MacSettings settings = SimulatedMac::defaultUser();
    settings.codesignRefuses = c.codesignRefuses;

    expectRun(mac.runInstaller({"--check-installed"}, settings), c.out, "", 0);
    // The signature is asked about last, of the installed bundle, and only when all else holds.
    std::vector<std::vector<std::string>> codesign;
    if (c.out == kMatches || c.codesignRefuses) {
      codesign.push_back({"codesign", "--verify", "--deep", "--strict", "--test-requirement",
                          signatureRequirement(), kTarget});
    }
    EXPECT_EQ(mac.callsOf("codesign"), codesign);
    EXPECT_EQ(mac.callsOf("uname").size(), 1u);
    if (c.installed) {
      EXPECT_EQ(testing::treeListing(target()), before);
    }
  }
}

struct FailureCase {
  const char* name;
  std::function<void(const fs::path& disk, const fs::path& bundle)> change;
  std::string err;
  MacSettings settings = SimulatedMac::defaultUser();
};

MacSettings withoutCodesign() {
  MacSettings settings = SimulatedMac::defaultUser();
  settings.missingTool = "codesign";
  return settings;
}

TEST_F(CheckInstalled, WhatStopsTheCheckIsAFailureWithNothingOnStandardOutput) {
  const FailureCase cases[] = {
      {"a symbolic link on the chain",
       [](const fs::path& d, const fs::path&) {
         fs::rename(d / "Library/Audio/Plug-Ins", d / "Library/Audio/Real");
         fs::create_directory_symlink("Real", d / "Library/Audio/Plug-Ins");
       },
       kLink},
      {"a file at the target",
       [](const fs::path&, const fs::path& b) {
         fs::remove_all(b);
         testing::writeFile(b, "");
       },
       kSameName},
      {"HAL that the user may not search",
       [](const fs::path&, const fs::path& b) { changeMode(b.parent_path(), 0700); },
       "cannot examine \"" + kTarget + "\": Permission denied\n"},
      {"a directory that the user may not list",
       [](const fs::path&, const fs::path& b) { changeMode(b / "Contents/Resources", 0700); },
       "cannot open \"" + kTarget + "/Contents/Resources\": Permission denied\n"},
      {"a directory whose entries the user may not examine",
       [](const fs::path&, const fs::path& b) { changeMode(b / "Contents/MacOS", 0744); },
       "cannot examine \"" + kTarget + "/Contents/MacOS/Orlana2ch\": Permission denied\n"},
      {"no codesign at all", [](const fs::path&, const fs::path&) {},
       "cannot start /usr/bin/codesign: No such file or directory\n", withoutCodesign()},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    resetLibrary();
    installWithTheInstallScript();
    c.change(mac.disk(), target());
    expectRun(mac.runInstaller({"--check-installed"}, c.settings), "", c.err, 1);
  }
}

TEST_F(CheckInstalled, NeedsNoPayloadButRunsThePlatformCheck) {
  // The installed driver is compared with the manifest built in, not with the
  // payload beside the executable, so a damaged payload does not matter here.
  fs::remove_all(mac.onDisk(mac.payload()));
  expectRun(mac.runInstaller({"--check-installed"}), kNotInstalled, "", 0);

  MacSettings intel = SimulatedMac::defaultUser();
  intel.machine = "x86_64";
  expectRun(mac.runInstaller({"--check-installed"}, intel), "",
            "此安装包需要 Apple 芯片 Mac 和 macOS 14 或更新版本。\n", 1);
}

}  // namespace
}  // namespace corvel
