#include "verify/platform_check.h"

#include "common/install_failure.h"
#include "verify/messages.h"
#include "verify/system_version.h"

namespace corvel {

void validatePlatform(int majorVersion, const Runner& runner) {
  if (majorVersion < 14) throw InstallFailure(std::string(kUnsupportedPlatformMessage));
  if (runner("/usr/bin/uname", {"-m"}) != "arm64") {
    throw InstallFailure(std::string(kUnsupportedPlatformMessage));
  }
}

void validatePlatform() { validatePlatform(operatingSystemMajorVersion(), run); }

}  // namespace corvel
