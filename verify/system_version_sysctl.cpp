// A macOS build without Foundation (the cross-build check) may load no
// library but libSystem, so neither CoreFoundation nor libplist can read
// SystemVersion.plist there. The kernel tells the same product version
// ("14.6.1") through sysctl, which libSystem serves.

#include <sys/sysctl.h>

#include <array>
#include <cstring>
#include <string_view>

#include "verify/system_version.h"

namespace corvel {

int operatingSystemMajorVersion() {
  std::array<char, 64> version{};
  std::size_t size = version.size();
  if (::sysctlbyname("kern.osproductversion", version.data(), &size, nullptr, 0) != 0) return 0;
  return majorVersionOf(std::string_view(version.data(), ::strnlen(version.data(), size)));
}

}  // namespace corvel
