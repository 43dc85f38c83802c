#pragma once

#include <string_view>

namespace corvel {

// The running system's major version (14 for macOS 14.x). 0 when it cannot
// be told, which the platform check refuses like any version too old.
int operatingSystemMajorVersion();

// The number before the first "." of a version text such as "14.6.1";
// 0 unless that part is a plain decimal number.
int majorVersionOf(std::string_view productVersion);

}  // namespace corvel
