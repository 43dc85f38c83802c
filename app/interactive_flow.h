#pragma once

#include <functional>
#include <string>

#include "app/administrator_script.h"
#include "app/alert.h"

namespace corvel {

// The checks and the script builder the flow runs, so that tests can stand
// in for the machine.
struct InstallationSteps {
  std::function<void()> validatePlatform;
  std::function<std::string()> payloadURL;
  std::function<void(const std::string&)> validatePayload;
  std::function<bool()> checkExistingTarget;
  std::function<std::string(const std::string&)> installCommand;

  static InstallationSteps ofThisMachine();
};

// The whole interactive installation, one straight pass: the checks, then
// the confirmation, then the install script through the administrator
// prompt, each outcome told in an alert. Never throws: every error ends the
// flow in the failure alert. Cancelling is no error and shows nothing more.
void installInteractively(const InstallationSteps& steps, Alerts& alerts, AdministratorScripts& scripts);

// The same on this machine, with the system's alerts and administrator prompt.
void installInteractively();

// `script` as the inside of an AppleScript string literal: every backslash
// doubled, then every double quote preceded by a backslash.
std::string appleScriptEscaped(const std::string& script);

// The AppleScript that runs `script` as root through the administrator prompt.
std::string administratorAppleScript(const std::string& script);

}  // namespace corvel
