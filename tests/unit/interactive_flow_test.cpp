#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "app/interactive_flow.h"
#include "common/install_failure.h"

namespace corvel {
namespace {

struct Shown {
  std::string title;
  std::string message;
  std::vector<std::string> buttons;
  bool operator==(const Shown&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Shown& shown) {
  out << "[" << shown.title << " | " << shown.message << " |";
  for (const auto& button : shown.buttons) out << " " << button;
  return out << "]";
}

struct FakeAlerts final : Alerts {
  long confirmationResponse = kFirstButtonResponse;
  std::vector<Shown> shown;
  long present(const std::string& title, const std::string& message,
               const std::vector<std::string>& buttons) override {
    shown.push_back({title, message, buttons});
    return title == "安装语音驱动" ? confirmationResponse : kFirstButtonResponse;
  }
};

struct FakeScripts final : AdministratorScripts {
  std::optional<ScriptOutcome> outcome = ScriptOutcome{false, std::nullopt, "CORVEL_DRIVER_INSTALLED"};
  std::vector<std::string> sources;
  std::optional<ScriptOutcome> execute(const std::string& source) override {
    sources.push_back(source);
    return outcome;
  }
};

const Shown kFailureTitle{"未能安装语音驱动", "", {"好"}};
const Shown kAlreadyPresent{
    "已存在语音驱动",
    "现有 Orlana 2ch 驱动已保留，无需重复安装。如仍无法使用，请按照配置说明检查音频设备。",
    {"好"}};
const Shown kConfirmation{
    "安装语音驱动",
    "将安装 Orlana 2ch，供TessaroCorvel连接豆包输入法。需要 Mac 管理员授权。安装后请保存工作并重新启动 Mac。",
    {"安装", "取消"}};
const Shown kInstalled{
    "语音驱动已安装",
    "请先保存正在进行的工作，然后重新启动 Mac。重新启动后，在豆包输入法中选择 Orlana 2ch。",
    {"好"}};

Shown failure(const std::string& message) { return {"未能安装语音驱动", message, {"好"}}; }

const char* const kNotCompleted =
    "驱动安装未完成。现有驱动不会被替换；请检查管理员授权或请管理员检查音频驱动目录，然后重试。";
const char* const kUnconfirmed = "未能确认安装结果，请按配置说明检查驱动。";

class InteractiveFlow : public ::testing::Test {
 public:
  InstallationSteps steps() {
    return {
        [this] {
          calls.push_back("platform");
          if (platformError) std::rethrow_exception(platformError);
        },
        [this] {
          calls.push_back("location");
          return std::string("/A.app/Contents/Resources/Orlana2ch.driver");
        },
        [this](const std::string& payload) {
          calls.push_back("payload " + payload);
          if (payloadError) std::rethrow_exception(payloadError);
        },
        [this] {
          calls.push_back("target");
          if (targetError) std::rethrow_exception(targetError);
          return driverPresent;
        },
        [this](const std::string& payload) {
          calls.push_back("script " + payload);
          return script;
        },
    };
  }
  void runFlow() { installInteractively(steps(), alerts, scripts); }

  std::exception_ptr platformError;
  std::exception_ptr payloadError;
  std::exception_ptr targetError;
  bool driverPresent = false;
  std::string script = "echo ok";
  std::vector<std::string> calls;
  FakeAlerts alerts;
  FakeScripts scripts;
};

TEST_F(InteractiveFlow, InstallsAfterConfirmationAndSaysSo) {
  runFlow();
  EXPECT_EQ(calls, (std::vector<std::string>{"platform", "location",
                                             "payload /A.app/Contents/Resources/Orlana2ch.driver", "target",
                                             "script /A.app/Contents/Resources/Orlana2ch.driver"}));
  EXPECT_EQ(alerts.shown, (std::vector<Shown>{kConfirmation, kInstalled}));
  EXPECT_EQ(scripts.sources,
            (std::vector<std::string>{"do shell script \"echo ok\" with administrator privileges"}));
}

TEST_F(InteractiveFlow, AFailedCheckShowsOnlyTheFailureAlert) {
  struct FailedCheck {
    std::exception_ptr InteractiveFlow::*error;
    std::exception_ptr thrown;
    std::string shown;
    std::string lastStep;
  };
  const FailedCheck cases[] = {
      {&InteractiveFlow::platformError, std::make_exception_ptr(InstallFailure("平台")), "平台", "platform"},
      {&InteractiveFlow::payloadError,
       std::make_exception_ptr(std::system_error(EACCES, std::generic_category(), "cannot open \"/x\"")),
       "cannot open \"/x\": Permission denied", "payload /A.app/Contents/Resources/Orlana2ch.driver"},
      {&InteractiveFlow::targetError, std::make_exception_ptr(InstallFailure("链接")), "链接", "target"},
  };
  for (const FailedCheck& c : cases) {
    SCOPED_TRACE(c.lastStep);
    platformError = payloadError = targetError = nullptr;
    this->*c.error = c.thrown;
    alerts.shown.clear();
    calls.clear();
    runFlow();
    EXPECT_EQ(alerts.shown, (std::vector<Shown>{failure(c.shown)}));
    EXPECT_EQ(calls.back(), c.lastStep);
  }
  EXPECT_TRUE(scripts.sources.empty());
}

TEST_F(InteractiveFlow, AnInstalledDriverEndsWithTheAlreadyPresentAlertAlone) {
  driverPresent = true;
  runFlow();
  EXPECT_EQ(alerts.shown, (std::vector<Shown>{kAlreadyPresent}));
  EXPECT_TRUE(scripts.sources.empty());
}

TEST_F(InteractiveFlow, AnyResponseButTheFirstButtonCancelsSilentlyBeforeTheScriptIsBuilt) {
  for (const long response : {1001L, -1000L, -1001L, 0L, 999L}) {
    alerts.shown.clear();
    calls.clear();
    alerts.confirmationResponse = response;
    runFlow();
    EXPECT_EQ(alerts.shown, (std::vector<Shown>{kConfirmation})) << response;
    EXPECT_EQ(calls.back(), "target") << response;
  }
  EXPECT_TRUE(scripts.sources.empty());
}

struct OutcomeCase {
  const char* name;
  std::optional<ScriptOutcome> outcome;
  std::optional<Shown> last;  // the alert after the confirmation; none when nothing follows
};

TEST_F(InteractiveFlow, EndsAsThePrivilegedRunSays) {
  const OutcomeCase cases[] = {
      {"installed", ScriptOutcome{false, std::nullopt, "CORVEL_DRIVER_INSTALLED"}, kInstalled},
      {"installed among other output", ScriptOutcome{false, std::nullopt, "x\rCORVEL_DRIVER_INSTALLED\ry"},
       kInstalled},
      {"already present", ScriptOutcome{false, std::nullopt, "CORVEL_DRIVER_PRESENT"}, kAlreadyPresent},
      {"both markers count as present",
       ScriptOutcome{false, std::nullopt, "CORVEL_DRIVER_INSTALLED\rCORVEL_DRIVER_PRESENT"}, kAlreadyPresent},
      {"markers are case-sensitive", ScriptOutcome{false, std::nullopt, "corvel_driver_installed"},
       failure(kUnconfirmed)},
      {"empty text", ScriptOutcome{false, std::nullopt, ""}, failure(kUnconfirmed)},
      {"no text", ScriptOutcome{false, std::nullopt, std::nullopt}, failure(kUnconfirmed)},
      {"cancelled prompt", ScriptOutcome{true, -128, std::nullopt}, std::nullopt},
      {"script check failed", ScriptOutcome{true, 1, std::nullopt}, failure(kNotCompleted)},
      {"other error number", ScriptOutcome{true, 130, std::nullopt}, failure(kNotCompleted)},
      {"error without a number", ScriptOutcome{true, std::nullopt, std::nullopt}, failure(kNotCompleted)},
      {"error with a result holding a marker", ScriptOutcome{true, 1, "CORVEL_DRIVER_INSTALLED"},
       failure(kNotCompleted)},
      {"no script object", std::nullopt, failure("无法启动安装授权。请稍后重新打开安装助手。")},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.name);
    alerts.shown.clear();
    scripts.outcome = c.outcome;
    runFlow();
    std::vector<Shown> expected = {kConfirmation};
    if (c.last) expected.push_back(*c.last);
    EXPECT_EQ(alerts.shown, expected);
  }
}

}  // namespace
}  // namespace corvel
