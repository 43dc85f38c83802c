// Where NSProcessInfo is not at hand, the version comes from the property list
// in which macOS itself records it (the simulated Mac writes one).

#include <fstream>
#include <sstream>

#include "common/property_list.h"
#include "verify/system_version.h"

namespace corvel {

int operatingSystemMajorVersion() {
  std::ifstream file("/System/Library/CoreServices/SystemVersion.plist", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  if (!file) return 0;
  const auto version = topLevelPropertyListString(text.str(), "ProductVersion");
  return version ? majorVersionOf(*version) : 0;
}

}  // namespace corvel
