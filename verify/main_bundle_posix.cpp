// Where NSBundle is not at hand, the bundle is found from the executable's own
// real path, as the main bundle finds it on macOS.

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "verify/main_bundle.h"

namespace corvel {

std::string resourceDirectoryForExecutable(const std::string& executable) {
  const std::filesystem::path directory = std::filesystem::path(executable).parent_path();
  const std::filesystem::path contents = directory.parent_path();
  const std::filesystem::path bundle = contents.parent_path();
  if (directory.filename() == "MacOS" && contents.filename() == "Contents" && bundle.extension() == ".app" &&
      bundle.filename() != ".app") {
    return (contents / "Resources").string();
  }
  return directory.string();
}

std::optional<std::string> mainBundleResourceDirectory() {
  char resolved[PATH_MAX];
  if (::realpath("/proc/self/exe", resolved) == nullptr) return std::nullopt;
  return resourceDirectoryForExecutable(resolved);
}

}  // namespace corvel
