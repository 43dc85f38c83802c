#pragma once

#include "app/administrator_script.h"
#include "app/alert.h"
#include "app/installation_steps.h"

namespace corvel {

// The whole interactive installation, one straight pass: the checks, then
// the confirmation, then the install script through the administrator
// prompt, each outcome told in an alert. Never throws: every error ends the
// flow in the failure alert. Cancelling is no error and shows nothing more.
void installInteractively(const InstallationSteps& steps, Alerts& alerts, AdministratorScripts& scripts);

// The same on this machine, with the system's alerts and administrator prompt.
void installInteractively();

}  // namespace corvel
