// The installer's command-line modes, run as the Mac's user in the simulated
// Mac: what it prints, on which stream, its exit status, and which of the
// macOS tools it ran.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "install/install_script.h"
#include "install/uninstall_script.h"
#include "tests/support/simulated_mac.h"
#include "verify/build_manifest.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;
using testing::expectRun;
using testing::MacSettings;
using testing::RunResult;
using testing::SimulatedMac;

const std::string kPayloadLine = "DRIVER_PAYLOAD_VALID team=K7QZ2RM4TD architecture=arm64 files=8\n";
const std::string kPlatform = "此安装包需要 Apple 芯片 Mac 和 macOS 14 或更新版本。\n";
const std::string kIntegrity = "安装文件未通过完整性检查。请重新下载完整安装包。\n";
const std::string kInvalid = "安装文件无效，请重新下载完整安装包。\n";
const std::string kUnsupported = "安装文件包含不支持的文件类型，请重新下载。\n";
const std::string kMismatch = "安装文件的校验值不符，请重新下载完整安装包。\n";
const std::string kLink = "音频驱动目录使用了符号链接。为避免修改错误的位置，安装已停止。\n";
const std::string kSameName = "音频驱动位置已有同名文件，安装已停止。请交由管理员检查。\n";
const std::string kConfirmationTitle = "安装语音驱动\n";

class CommandLine : public testing::SimulatedMacTest {
 protected:
  fs::path payloadOnDisk() const { return mac.onDisk(mac.payload()); }
};

TEST_F(CommandLine, ValidateOnlyReportsAValidPayloadAndNoDriver) {
  expectRun(mac.runInstaller({"--validate-only"}), kPayloadLine + "DRIVER_NOT_INSTALLED\n", "", 0);
  const std::vector<std::vector<std::string>> expected = {
      {"uname", "-m"},
      {"codesign", "--verify", "--deep", "--strict", "--test-requirement", signatureRequirement(),
       mac.payload()}};
  EXPECT_EQ(mac.calls(), expected);
}

TEST_F(CommandLine, ValidateOnlyReportsAnInstalledDriverAsPreserved) {
  fs::create_directories(hal() / "Orlana2ch.driver/Contents");
  expectRun(mac.runInstaller({"--validate-only"}), kPayloadLine + "EXISTING_DRIVER_PRESERVED\n", "", 0);
}

TEST_F(CommandLine, PrintInstallScriptPrintsTheScriptAndSkipsTheTargetInspection) {
  // A link on the chain would stop --validate-only; the script mode never looks.
  fs::create_directories(mac.onDisk("/Library/Audio/Real"));
  fs::create_directory_symlink("Real", mac.onDisk("/Library/Audio/Plug-Ins"));
  const std::string script = installCommand(mac.payload()) + "\n";
  for (const auto& arguments :
       std::vector<std::vector<std::string>>{{"--print-install-script"},
                                             {"--validate-only", "--print-install-script"},
                                             {"--print-install-script", "--validate-only"}}) {
    expectRun(mac.runInstaller(arguments), script, "", 0);
    EXPECT_EQ(mac.callsOf("codesign").size(), 1u);
  }
  expectRun(mac.runInstaller({"--validate-only"}), kPayloadLine, kLink, 1);
}

TEST_F(CommandLine, AnOutputThatCannotBeWrittenIsAFailureNotASuccess) {
  for (const char* option :
       {"--validate-only", "--print-install-script", "--print-uninstall-script", "--check-installed"}) {
    const RunResult full =
        mac.run({"/bin/sh", "-c", "exec \"$0\" \"$1\" > /dev/full", mac.executable(), option},
                SimulatedMac::defaultUser());
    expectRun(full, "", "cannot write to standard output: No space left on device\n", 1);
    // A reader that has gone before the first line: reported, not a silent death by SIGPIPE.
    const RunResult gone =
        mac.run({"/bin/sh", "-c", "{ \"$0\" \"$1\"; echo \"status $?\" >&2; } | :", mac.executable(), option},
                SimulatedMac::defaultUser());
    expectRun(gone, "", "cannot write to standard output: Broken pipe\nstatus 1\n", 0);
  }
}

enum class Mode { validation, script, uninstall, check, interactive };

TEST_F(CommandLine, AnOptionCountsOnlyWhenAnArgumentEqualsItExactly) {
  const std::pair<std::vector<std::string>, Mode> cases[] = {
      {{}, Mode::interactive},
      {{"--validate-only=yes"}, Mode::interactive},
      {{"--print-install-script=1"}, Mode::interactive},
      {{"--VALIDATE-ONLY"}, Mode::interactive},
      {{"--Print-Install-Script"}, Mode::interactive},
      {{"-validate-only"}, Mode::interactive},
      {{"-print-install-script"}, Mode::interactive},
      {{"--validate"}, Mode::interactive},
      {{"validate-only"}, Mode::interactive},
      {{" --validate-only"}, Mode::interactive},
      {{"extra", "words", "--validate-only"}, Mode::validation},
      {{"--validate-only", "--validate-only"}, Mode::validation},
      {{"x", "--print-install-script", "y", "--print-install-script"}, Mode::script},
      {{"--validate-only=1", "--print-install-script"}, Mode::script},
      {{"--check-installed=1"}, Mode::interactive},
      {{"--Check-Installed"}, Mode::interactive},
      {{"-check-installed"}, Mode::interactive},
      {{"x", "--check-installed", "--check-installed"}, Mode::check},
      {{"--check-installed", "--validate-only"}, Mode::validation},
      {{"--print-install-script", "--check-installed"}, Mode::script},
      {{"--check-installed", "--validate-only", "--print-install-script"}, Mode::script},
      {{"--print-uninstall-script"}, Mode::uninstall},
      {{"x", "--print-uninstall-script", "--print-uninstall-script"}, Mode::uninstall},
      {{"--print-uninstall-script=1"}, Mode::interactive},
      {{"--Print-Uninstall-Script"}, Mode::interactive},
      {{"-print-uninstall-script"}, Mode::interactive},
      {{"--print-uninstall-script", "--check-installed"}, Mode::uninstall},
      {{"--check-installed", "--print-uninstall-script"}, Mode::uninstall},
      {{"--print-uninstall-script", "--validate-only"}, Mode::validation},
      {{"--print-install-script", "--print-uninstall-script"}, Mode::script},
      {{"--print-uninstall-script=1", "--check-installed"}, Mode::check},
  };
  for (const auto& [arguments, mode] : cases) {
    std::string label;
    for (const auto& argument : arguments) label += "[" + argument + "]";
    SCOPED_TRACE(label);
    // Interactive runs answer the confirmation with the end of input.
    const RunResult result = mac.runInstaller(arguments);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    switch (mode) {
      case Mode::validation:
        EXPECT_EQ(result.out, kPayloadLine + "DRIVER_NOT_INSTALLED\n");
        break;
      case Mode::script:
        EXPECT_EQ(result.out, installCommand(mac.payload()) + "\n");
        break;
      case Mode::uninstall:
        EXPECT_EQ(result.out, uninstallCommand() + "\n");
        break;
      case Mode::check:
        EXPECT_EQ(result.out, "DRIVER_NOT_INSTALLED\n");
        break;
      case Mode::interactive:
        EXPECT_EQ(result.out.substr(0, kConfirmationTitle.size()), kConfirmationTitle);
        break;
    }
  }
}

struct PlatformCase {
  const char* name;
  MacSettings settings;
  std::string err;  // empty: accepted
  bool unameRuns;
};

MacSettings asUser(std::function<void(MacSettings&)> change) {
  MacSettings settings = SimulatedMac::defaultUser();
  change(settings);
  return settings;
}

TEST_F(CommandLine, RefusesAnyMachineButAppleSiliconWithMacOS14OrLater) {
  const PlatformCase cases[] = {
      {"macOS 14.0", asUser([](MacSettings& s) { s.macosVersion = "14.0"; }), "", true},
      {"macOS 26.1", asUser([](MacSettings& s) { s.macosVersion = "26.1"; }), "", true},
      {"macOS 13.6", asUser([](MacSettings& s) { s.macosVersion = "13.6"; }), kPlatform, false},
      {"macOS 10.15.7", asUser([](MacSettings& s) { s.macosVersion = "10.15.7"; }), kPlatform, false},
      {"no SystemVersion.plist", asUser([](MacSettings& s) { s.macosVersion.reset(); }), kPlatform, false},
      {"unreadable version", asUser([](MacSettings& s) { s.macosVersion = "fourteen"; }), kPlatform, false},
      {"Intel Mac", asUser([](MacSettings& s) { s.machine = "x86_64"; }), kPlatform, true},
      {"upper case", asUser([](MacSettings& s) { s.machine = "ARM64"; }), kPlatform, true},
      {"suffix", asUser([](MacSettings& s) { s.machine = "arm64e"; }), kPlatform, true},
      {"uname fails", asUser([](MacSettings& s) { s.unameFails = true; }), kIntegrity, true},
      {"no uname at all", asUser([](MacSettings& s) { s.missingTool = "uname"; }),
       "cannot start /usr/bin/uname: No such file or directory\n", false},
  };
  for (const PlatformCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* option : {"--validate-only", "--print-install-script", "--check-installed"}) {
      const RunResult result = mac.runInstaller({option}, c.settings);
      if (c.err.empty()) {
        EXPECT_EQ(result.status, 0) << result.err;
        continue;
      }
      expectRun(result, "", c.err, 1);
      EXPECT_EQ(mac.callsOf("uname").size(), c.unameRuns ? 1u : 0u);
      EXPECT_TRUE(mac.callsOf("codesign").empty());
    }
  }
}

struct PayloadCase {
  const char* name;
  std::function<void(const fs::path& payload)> arrange;
  std::string err;  // empty: valid
};

void chmodOrFail(const fs::path& path, mode_t mode) { ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path; }

TEST_F(CommandLine, RefusesEveryPayloadButTheOneItWasBuiltWith) {
  const std::string payload = mac.payload();
  const PayloadCase cases[] = {
      {"extra empty directory", [](const fs::path& p) { fs::create_directories(p / "Contents/Empty"); }, ""},
      {"payload missing", [](const fs::path& p) { fs::remove_all(p); },
       "cannot examine \"" + payload + "\": No such file or directory\n"},
      {"extra file", [](const fs::path& p) { testing::writeFile(p / "Contents/Resources/notes.txt", "x"); },
       kMismatch},
      {"extra dot file", [](const fs::path& p) { testing::writeFile(p / "Contents/.hidden", ""); },
       kMismatch},
      {"missing file", [](const fs::path& p) { fs::remove(p / "Contents/Resources/LICENSE"); }, kMismatch},
      {"one changed byte",
       [](const fs::path& p) {
         std::string text = testing::readFile(p / "Contents/MacOS/Orlana2ch");
         text[0] ^= 0x20;
         testing::writeFile(p / "Contents/MacOS/Orlana2ch", text);
       },
       kMismatch},
      {"symbolic link to a payload file",
       [](const fs::path& p) { fs::create_symlink("Info.plist", p / "Contents/Info-link.plist"); },
       kUnsupported},
      {"named pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo((p / "Contents/fifo").c_str(), 0644), 0); },
       kUnsupported},
      {"root is a symbolic link to a valid bundle",
       [](const fs::path& p) {
         fs::rename(p, p.parent_path() / "Copy.driver");
         fs::create_directory_symlink("Copy.driver", p);
       },
       kInvalid},
      {"root is a file",
       [](const fs::path& p) {
         fs::remove_all(p);
         testing::writeFile(p, "");
       },
       kInvalid},
      {"unreadable file", [](const fs::path& p) { chmodOrFail(p / "Contents/Resources/VERSION", 0); },
       "cannot open \"" + payload + "/Contents/Resources/VERSION\": Permission denied\n"},
      {"subdirectory that cannot be listed",
       [](const fs::path& p) { chmodOrFail(p / "Contents/Resources", 0311); }, kMismatch},
      {"unreadable file met before a link",
       [](const fs::path& p) {
         chmodOrFail(p / "Contents/Info.plist", 0);
         fs::create_symlink("x", p / "Contents/MacOS/link");
       },
       "cannot open \"" + payload + "/Contents/Info.plist\": Permission denied\n"},
      {"link met before an unreadable file",
       [](const fs::path& p) {
         chmodOrFail(p / "Contents/Info.plist", 0);
         fs::create_symlink("x", p / "Contents/A-link");
       },
       kUnsupported},
  };
  for (const PayloadCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(payloadOnDisk());
    fs::remove_all(payloadOnDisk().parent_path() / "Copy.driver");
    fs::copy(CORVEL_BUNDLE_DIR "/Contents/Resources/Orlana2ch.driver", payloadOnDisk(),
             fs::copy_options::recursive);
    c.arrange(payloadOnDisk());
    for (const char* option : {"--validate-only", "--print-install-script"}) {
      const RunResult result = mac.runInstaller({option});
      if (c.err.empty()) {
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(mac.callsOf("codesign").size(), 1u);
        continue;
      }
      expectRun(result, "", c.err, 1);
      EXPECT_TRUE(mac.callsOf("codesign").empty());
    }
  }
}

TEST_F(CommandLine, ACodesignThatCannotStartIsThePlatformsError) {
  MacSettings noCodesign = SimulatedMac::defaultUser();
  noCodesign.missingTool = "codesign";
  for (const char* option : {"--validate-only", "--print-install-script"}) {
    expectRun(mac.runInstaller({option}, noCodesign), "",
              "cannot start /usr/bin/codesign: No such file or directory\n", 1);
  }
}

TEST_F(CommandLine, ASignatureRefusalIsTheIntegrityFailure) {
  MacSettings refusing = SimulatedMac::defaultUser();
  refusing.codesignRefuses = true;
  for (const char* option : {"--validate-only", "--print-install-script"}) {
    expectRun(mac.runInstaller({option}, refusing), "", kIntegrity, 1);
    EXPECT_EQ(mac.callsOf("codesign").size(), 1u);
  }
}

TEST_F(CommandLine, OutsideABundleThePayloadIsLookedForBesideTheExecutable) {
  const fs::path tool = mac.onDisk("/Users/Shared/tool");
  fs::create_directories(tool);
  fs::permissions(mac.onDisk("/Users"), fs::perms(0755));
  fs::copy(mac.onDisk(mac.executable()), tool / "installer");
  const RunResult missing =
      mac.run({"/Users/Shared/tool/installer", "--validate-only"}, SimulatedMac::defaultUser());
  expectRun(missing, "",
            "cannot examine \"/Users/Shared/tool/Orlana2ch.driver\": No such file or directory\n", 1);

  fs::copy(payloadOnDisk(), tool / "Orlana2ch.driver", fs::copy_options::recursive);
  const RunResult found =
      mac.run({"/Users/Shared/tool/installer", "--validate-only"}, SimulatedMac::defaultUser());
  expectRun(found, kPayloadLine + "DRIVER_NOT_INSTALLED\n", "", 0);
}

struct TargetCase {
  const char* name;
  std::function<void(const fs::path& disk)> arrange;
  std::string out;  // the line after the payload line
  std::string err;
};

TEST_F(CommandLine, InspectsTheInstallLocationAfterPrintingThePayloadLine) {
  const fs::path hal = "Library/Audio/Plug-Ins/HAL";
  const TargetCase cases[] = {
      {"empty HAL", [&](const fs::path& d) { fs::create_directories(d / hal); }, "DRIVER_NOT_INSTALLED\n",
       ""},
      {"HAL is a file", [&](const fs::path& d) { testing::writeFile(d / hal, ""); }, "DRIVER_NOT_INSTALLED\n",
       ""},
      {"driver present", [&](const fs::path& d) { fs::create_directories(d / hal / "Orlana2ch.driver"); },
       "EXISTING_DRIVER_PRESERVED\n", ""},
      {"file at the target", [&](const fs::path& d) { testing::writeFile(d / hal / "Orlana2ch.driver", ""); },
       "", kSameName},
      {"/Library is a link",
       [&](const fs::path& d) {
         fs::remove_all(d / "Library");
         fs::create_directory_symlink("/Users/Shared/Library", d / "Library");
       },
       "", kLink},
      {"/Library/Audio is a link",
       [&](const fs::path& d) {
         fs::create_directories(d / "Library/Elsewhere");
         fs::create_directory_symlink("/Library/Elsewhere", d / "Library/Audio");
       },
       "", kLink},
      {"Plug-Ins is a link to a folder with the driver",
       [&](const fs::path& d) {
         fs::create_directories(d / "Library/Audio/Real/HAL/Orlana2ch.driver");
         fs::create_directory_symlink("Real", d / "Library/Audio/Plug-Ins");
       },
       "", kLink},
      {"HAL is a dangling link",
       [&](const fs::path& d) {
         fs::create_directories(d / "Library/Audio/Plug-Ins");
         fs::create_symlink("/nowhere", d / hal);
       },
       "", kLink},
      {"target is a link to a directory",
       [&](const fs::path& d) {
         fs::create_directories(d / hal / "Other.driver");
         fs::create_directory_symlink("Other.driver", d / hal / "Orlana2ch.driver");
       },
       "", kLink},
      {"target is a dangling link",
       [&](const fs::path& d) {
         fs::create_directories(d / hal);
         fs::create_symlink("/nowhere", d / hal / "Orlana2ch.driver");
       },
       "", kLink},
  };
  for (const TargetCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(mac.disk() / "Library");
    fs::create_directories(mac.disk() / "Library");
    fs::permissions(mac.disk() / "Library", fs::perms(0755));
    c.arrange(mac.disk());
    expectRun(mac.runInstaller({"--validate-only"}), kPayloadLine + c.out, c.err, c.err.empty() ? 0 : 1);
  }
}

}  // namespace
}  // namespace corvel
