#include "verify/build_manifest.h"

#include "build_manifest_data.h"  // generated from the payload at build time

namespace corvel {

const std::map<std::string, std::string>& BuildManifest::files() {
  static const std::map<std::string, std::string> files = [] {
    std::map<std::string, std::string> map;
    for (const auto& [path, digest] : generated::kManifestFiles) map.emplace(path, digest);
    return map;
  }();
  return files;
}

std::string_view BuildManifest::bundleIdentifier() { return generated::kBundleIdentifier; }

const std::string& signatureRequirement() {
  static const std::string requirement =
      signatureRequirementFor(BuildManifest::teamIdentifier, BuildManifest::bundleIdentifier());
  return requirement;
}

}  // namespace corvel
