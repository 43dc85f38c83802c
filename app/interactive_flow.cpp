#include "app/interactive_flow.h"

#include <exception>
#include <string_view>

#include "common/install_failure.h"

namespace corvel {
namespace {

constexpr std::string_view kCannotAuthorizeMessage = "无法启动安装授权。请稍后重新打开安装助手。";
constexpr std::string_view kNotCompletedMessage =
    "驱动安装未完成。现有驱动不会被替换；请检查管理员授权或请管理员检查音频驱动目录，然后重试。";
constexpr std::string_view kUnconfirmedMessage = "未能确认安装结果，请按配置说明检查驱动。";

constexpr std::string_view kPresentMarker = "CORVEL_DRIVER_PRESENT";
constexpr std::string_view kInstalledMarker = "CORVEL_DRIVER_INSTALLED";

void showFailure(Alerts& alerts, const std::string& description) {
  alerts.present("未能安装语音驱动", description, {"好"});
}

void showAlreadyPresent(Alerts& alerts) {
  alerts.present("已存在语音驱动",
                 "现有 Orlana 2ch 驱动已保留，无需重复安装。如仍无法使用，请按照配置说明检查音频设备。",
                 {"好"});
}

bool confirmed(Alerts& alerts) {
  return alerts.present("安装语音驱动",
                        "将安装 Orlana 2ch，供TessaroCorvel连接豆包输入法。需要 Mac "
                        "管理员授权。安装后请保存工作并重新启动 Mac。",
                        {"安装", "取消"}) == kFirstButtonResponse;
}

void showInstalled(Alerts& alerts) {
  alerts.present("语音驱动已安装",
                 "请先保存正在进行的工作，然后重新启动 Mac。重新启动后，在豆包输入法中选择 Orlana 2ch。",
                 {"好"});
}

// Runs the script as root and says which alert ends the flow; throws the
// InstallFailure of a run that failed or could not be read.
void installAsAdministrator(const std::string& script, Alerts& alerts, AdministratorScripts& scripts) {
  const auto outcome = scripts.execute(administratorAppleScript(script));
  if (!outcome) throw InstallFailure(std::string(kCannotAuthorizeMessage));
  if (outcome->failed) {
    if (outcome->errorNumber == kUserCancelledError) return;
    throw InstallFailure(std::string(kNotCompletedMessage));
  }
  if (!outcome->resultText) throw InstallFailure(std::string(kUnconfirmedMessage));
  const std::string& text = *outcome->resultText;
  if (text.find(kPresentMarker) != std::string::npos) {
    showAlreadyPresent(alerts);
  } else if (text.find(kInstalledMarker) != std::string::npos) {
    showInstalled(alerts);
  } else {
    throw InstallFailure(std::string(kUnconfirmedMessage));
  }
}

}  // namespace

void installInteractively(const InstallationSteps& steps, Alerts& alerts, AdministratorScripts& scripts) {
  try {
    const std::string payload = steps.validatedPayload();
    if (steps.checkExistingTarget()) {
      showAlreadyPresent(alerts);
      return;
    }
    if (!confirmed(alerts)) return;
    installAsAdministrator(steps.installCommand(payload), alerts, scripts);
  } catch (const std::exception& error) {
    showFailure(alerts, error.what());
  }
}

void installInteractively() {
  installInteractively(InstallationSteps::ofThisMachine(), systemAlerts(), systemAdministratorScripts());
}

}  // namespace corvel
