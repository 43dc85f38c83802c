// The interactive installation end to end: the real installer in the
// simulated Mac, its alerts answered on standard input. Outside macOS an
// alert is written to standard output and the administrator prompt is the
// sudo prompt (SudoAdministratorScripts), which runs the script directly
// when already root and through sudo otherwise: these runs are root's, but
// for those that go through the simulated Mac's sudo as its user.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/simulated_mac.h"
#include "verify/build_manifest.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;
using testing::MacSettings;
using testing::RunResult;
using testing::SimulatedMac;

std::string alert(const std::string& title, const std::string& message,
                  const std::vector<std::string>& buttons) {
  std::string text = title + "\n" + message + "\n";
  for (std::size_t i = 0; i < buttons.size(); ++i) text += std::to_string(i + 1) + ". " + buttons[i] + "\n";
  return text;
}

const std::string kConfirmation = alert(
    "安装语音驱动",
    "将安装 Orlana 2ch，供TessaroCorvel连接豆包输入法。需要 Mac 管理员授权。安装后请保存工作并重新启动 Mac。",
    {"安装", "取消"});
const std::string kInstalled =
    alert("语音驱动已安装",
          "请先保存正在进行的工作，然后重新启动 Mac。重新启动后，在豆包输入法中选择 Orlana 2ch。", {"好"});
const std::string kAlreadyPresent =
    alert("已存在语音驱动",
          "现有 Orlana 2ch 驱动已保留，无需重复安装。如仍无法使用，请按照配置说明检查音频设备。", {"好"});

std::string failureAlert(const std::string& message) { return alert("未能安装语音驱动", message, {"好"}); }

class Interactive : public testing::SimulatedMacTest {
 protected:
  void SetUp() override {
    SimulatedMacTest::SetUp();
    fs::create_directories(hal());
  }
  RunResult answer(const std::string& input, const MacSettings& settings = {}) const {
    return mac.runInstaller({}, settings, input);
  }
  bool privilegedRunHappened() const { return !mac.callsOf("sw_vers").empty(); }
};

TEST_F(Interactive, InstallsAfterConfirmation) {
  const RunResult result = answer("1\n1\n");
  EXPECT_EQ(result.out, kConfirmation + kInstalled);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  expectInstalledTree();
}

TEST_F(Interactive, AsTheUserInstallsThroughSudo) {
  const RunResult result = answer("1\n1\n", SimulatedMac::defaultUser());
  EXPECT_EQ(result.out, kConfirmation + kInstalled);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  expectInstalledTree();
  EXPECT_EQ(mac.callsOf("sudo"), (std::vector<std::vector<std::string>>{
                                     {"sudo", "-v"}, {"sudo", "-n", "/bin/sh", "-c", "(script)"}}));
}

// A password refused three times is a cancelled prompt: nothing more is said.
TEST_F(Interactive, ARefusedSudoPasswordEndsSilently) {
  MacSettings settings = SimulatedMac::defaultUser();
  settings.sudoRefuses = true;
  const RunResult result = answer("1\n1\n", settings);
  EXPECT_EQ(result.out, kConfirmation);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(mac.callsOf("sudo"), (std::vector<std::vector<std::string>>{{"sudo", "-v"}}));
  EXPECT_FALSE(privilegedRunHappened());
  EXPECT_TRUE(halEntries().empty());
}

TEST_F(Interactive, AnAnswerThatIsNoButtonAsksAgain) {
  const RunResult result = answer("3\nyes\n\n 1\n1\n\n");
  EXPECT_EQ(result.out, kConfirmation + kInstalled);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(fs::is_directory(target()));
}

TEST_F(Interactive, CancellingEndsSilentlyWithoutThePrivilegedRun) {
  // An empty line answers only a one-button alert: here it asks again.
  for (const char* input : {"2\n", "", "x\n", "\n2\n"}) {
    SCOPED_TRACE(std::string("input: ") + input);
    const RunResult result = answer(input);
    EXPECT_EQ(result.out, kConfirmation);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_FALSE(privilegedRunHappened());
    EXPECT_FALSE(fs::exists(target()));
  }
}

TEST_F(Interactive, AnInstalledDriverShowsOnlyTheAlreadyPresentAlert) {
  fs::create_directories(target());
  const RunResult result = answer("\n");
  EXPECT_EQ(result.out, kAlreadyPresent);
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(privilegedRunHappened());
}

TEST_F(Interactive, AFailedCheckShowsOnlyTheFailureAlert) {
  MacSettings oldMac;
  oldMac.macosVersion = "13.6";
  RunResult result = answer("\n", oldMac);
  EXPECT_EQ(result.out, failureAlert("此安装包需要 Apple 芯片 Mac 和 macOS 14 或更新版本。"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);

  testing::writeFile(mac.onDisk(mac.payload()) / "Contents/extra", "");
  result = answer("\n");
  EXPECT_EQ(result.out, failureAlert("安装文件的校验值不符，请重新下载完整安装包。"));
  EXPECT_FALSE(privilegedRunHappened());

  fs::remove(mac.onDisk(mac.payload()) / "Contents/extra");
  fs::rename(hal(), hal().parent_path() / "Real");
  fs::create_directory_symlink("Real", hal());
  result = answer("\n");
  EXPECT_EQ(result.out, failureAlert("音频驱动目录使用了符号链接。为避免修改错误的位置，安装已停止。"));
  EXPECT_FALSE(privilegedRunHappened());
}

TEST_F(Interactive, AHeldLockFailsAfterTheConfirmation) {
  fs::create_directory(hal() / ".tessaro-corvel-install.lock");
  const RunResult result = answer("1\n\n");
  EXPECT_EQ(
      result.out,
      kConfirmation +
          failureAlert(
              "驱动安装未完成。现有驱动不会被替换；请检查管理员授权或请管理员检查音频驱动目录，然后重试。"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(fs::is_directory(hal() / ".tessaro-corvel-install.lock"));
  EXPECT_FALSE(fs::exists(target()));
}

TEST_F(Interactive, ADriverThatAppearsDuringTheCopyIsReportedAsPresent) {
  MacSettings settings;
  settings.duringCopy = "mkdir /Library/Audio/Plug-Ins/HAL/Orlana2ch.driver\n";
  const RunResult result = answer("1\n1\n", settings);
  EXPECT_EQ(result.out, kConfirmation + kAlreadyPresent);
  EXPECT_TRUE(fs::is_empty(target()));
}

// The temporary directory cannot be removed once the driver is in place (a
// file system is mounted in it until the run ends): the installation has
// happened all the same, and says so.
TEST_F(Interactive, AFailedRemovalAfterTheMoveStillShowsTheInstalledAlert) {
  MacSettings settings;
  settings.duringCopy =
      "temporary=$(echo /Library/Audio/Plug-Ins/HAL/.tessaro-corvel.*)\n"
      "mkdir \"$temporary/busy\" && mount -t tmpfs busy \"$temporary/busy\"\n";
  const RunResult result = answer("1\n1\n", settings);
  EXPECT_EQ(result.out, kConfirmation + kInstalled);
  EXPECT_EQ(result.status, 0);
  const auto left = halEntries();
  ASSERT_EQ(left.size(), 2u) << "the lock is left";
  EXPECT_EQ(left[0].rfind(".tessaro-corvel.", 0), 0u) << left[0];
  EXPECT_EQ(left[1], "Orlana2ch.driver");
}

// The application killed outright while its install script copies. The script
// goes on without anyone to read its answer, installs, and meets a broken pipe
// at its last echo; it must still remove its lock and temporary directory. A
// shell waits for the orphaned script here, as the sandbox would otherwise
// end it with the application.
TEST_F(Interactive, KillingTheApplicationMidInstallationLeavesNoLockBehind) {
  MacSettings settings;
  settings.duringCopy =
      "echo \"$SIMMAC_SCRIPT_PID\" > /tmp/script-pid\n"
      "read -r _ _ _ application _ < /proc/\"$SIMMAC_SCRIPT_PID\"/stat\n"
      "kill -s KILL \"$application\"\n";
  const std::string waitForTheScript =
      "exec 3<&0\n"
      "\"$0\" <&3 &\n"
      "wait $!\n"
      "script=$(/run/host/bin/cat /tmp/script-pid)\n"
      "while kill -s 0 \"$script\" 2>/dev/null; do /run/host/bin/sleep 0.05; done\n";
  // Bash runs its EXIT trap on an untrapped SIGPIPE, dash does not: both.
  for (const char* shell : {"bash", "dash"}) {
    SCOPED_TRACE(shell);
    fs::remove_all(hal());
    fs::create_directories(hal());
    settings.shell = shell;
    const RunResult result =
        mac.run({"/bin/sh", "-c", waitForTheScript, mac.executable()}, settings, "1\n1\n");
    EXPECT_EQ(result.out, kConfirmation);
    EXPECT_EQ(result.status, 0) << result.err;
    expectInstalledTree();
  }
}

TEST_F(Interactive, InstallsFromAPathWithBlanksQuotesAndBackslashes) {
  mac.moveApplication("/Users/o'brien \"test\" back\\slash/Corvel Driver's.app");
  const RunResult result = answer("1\n1\n");
  EXPECT_EQ(result.out, kConfirmation + kInstalled);
  EXPECT_EQ(result.err, "");
  ASSERT_FALSE(mac.callsOf("ditto").empty());
  EXPECT_EQ(mac.callsOf("ditto")[0][5], mac.payload());
  expectInstalledTree();
}

}  // namespace
}  // namespace corvel
