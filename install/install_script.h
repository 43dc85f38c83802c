#pragma once

#include <map>
#include <string>

namespace corvel {

// The root shell script that installs the payload at `payload` (an absolute
// path), checking everything again as root on its own snapshot. Uses this
// build's manifest and signing requirement.
std::string installCommand(const std::string& payload);

// The same script for any manifest and requirement.
std::string installCommand(const std::string& payload, const std::map<std::string, std::string>& files,
                           const std::string& requirement);

}  // namespace corvel
