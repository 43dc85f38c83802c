#pragma once

#include <string>
#include <string_view>

namespace corvel {

// The code-signing requirement text for a payload signed with a Developer ID
// Application certificate of `team`, under the identifier `bundleIdentifier`.
// The leading "=" makes codesign read the argument as requirement text rather
// than as the name of a requirement file.
std::string signatureRequirementFor(std::string_view team, std::string_view bundleIdentifier);

}  // namespace corvel
