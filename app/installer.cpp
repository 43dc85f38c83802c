#include "app/installer.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <string_view>

#include "app/application.h"
#include "app/console_output.h"
#include "app/installation_steps.h"
#include "app/interactive_flow.h"
#include "install/installed_driver.h"
#include "install/uninstall_script.h"
#include "verify/build_manifest.h"
#include "verify/platform_check.h"

namespace corvel {
namespace {

constexpr std::string_view kValidateOnly = "--validate-only";
constexpr std::string_view kPrintInstallScript = "--print-install-script";
constexpr std::string_view kCheckInstalled = "--check-installed";
constexpr std::string_view kPrintUninstallScript = "--print-uninstall-script";

bool contains(const std::vector<std::string>& arguments, std::string_view option) {
  return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
}

std::string payloadLine() {
  return "DRIVER_PAYLOAD_VALID team=" + std::string(BuildManifest::teamIdentifier) +
         " architecture=arm64 files=" + std::to_string(BuildManifest::files().size()) + "\n";
}

// --validate-only and --print-install-script: the checks before the privileged
// step, then the payload line and the install location, or the install script.
void checkThePayload(const std::vector<std::string>& arguments) {
  const InstallationSteps steps = InstallationSteps::ofThisMachine();
  const std::string payload = steps.validatedPayload();
  if (contains(arguments, kPrintInstallScript)) {
    writeAll(STDOUT_FILENO, steps.installCommand(payload) + "\n");
    return;
  }
  writeAll(STDOUT_FILENO, payloadLine());
  writeAll(STDOUT_FILENO,
           steps.checkExistingTarget() ? "EXISTING_DRIVER_PRESERVED\n" : "DRIVER_NOT_INSTALLED\n");
}

void runNonInteractively(const std::vector<std::string>& arguments) {
  if (contains(arguments, kValidateOnly) || contains(arguments, kPrintInstallScript)) {
    checkThePayload(arguments);
  } else if (contains(arguments, kPrintUninstallScript)) {
    // Nothing is checked first: the script checks everything as root when it runs.
    writeAll(STDOUT_FILENO, uninstallCommand() + "\n");
  } else {
    validatePlatform();
    // The installed driver needs no payload, only the manifest.
    writeAll(STDOUT_FILENO, installedDriverLine(checkInstalledDriver()) + "\n");
  }
}

[[noreturn]] void failNonInteractively(const std::string& description) {
  try {
    writeAll(STDERR_FILENO, description + "\n");
  } catch (...) {
    // Standard error is gone; the exit status still tells.
  }
  std::exit(1);
}

}  // namespace

void Installer::main(const std::vector<std::string>& arguments) {
  // A reader that has gone away, of the command-line output or of the
  // console's alerts, is a write error to report, not a reason to die without
  // a word. Programs started from here get SIGPIPE back at its default.
  static_cast<void>(std::signal(SIGPIPE, SIG_IGN));  // cannot fail for SIGPIPE
  if (contains(arguments, kValidateOnly) || contains(arguments, kPrintInstallScript) ||
      contains(arguments, kPrintUninstallScript) || contains(arguments, kCheckInstalled)) {
    try {
      runNonInteractively(arguments);
    } catch (const std::exception& error) {
      failNonInteractively(error.what());
    }
    return;
  }
  becomeForegroundApplication();
  installInteractively();
}

}  // namespace corvel
