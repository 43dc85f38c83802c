#pragma once

#include <string>

namespace corvel {

// The root shell script that removes the installed driver, checking as root,
// at the moment it runs, that the driver is ours: signed by this build's team
// with the driver's identifier. It depends on nothing but this build's
// constants, so the same installer prints the same script on every Mac.
std::string uninstallCommand();

// The same script for any signing requirement.
std::string uninstallCommand(const std::string& requirement);

}  // namespace corvel
