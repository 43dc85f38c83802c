// Where NSBundle is not at hand, the bundle is found from the executable's own
// real path, as the main bundle finds it on macOS.

#include <climits>
#include <cstdlib>

#include "verify/main_bundle.h"

namespace corvel {

std::optional<std::string> mainBundleResourceDirectory() {
  char resolved[PATH_MAX];
  if (::realpath("/proc/self/exe", resolved) == nullptr) return std::nullopt;
  return resourceDirectoryForExecutable(resolved);
}

}  // namespace corvel
