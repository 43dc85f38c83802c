// Where NSProcessInfo is not at hand, the version comes from the property list
// in which macOS itself records it.

#include <fstream>
#include <sstream>

#include "common/plist_text.h"
#include "verify/system_version.h"

namespace corvel {

int operatingSystemMajorVersion() {
  std::ifstream file("/System/Library/CoreServices/SystemVersion.plist", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  if (!file) return 0;
  const auto version = plistString(text.str(), "ProductVersion");
  return version ? majorVersionOf(*version) : 0;
}

}  // namespace corvel
