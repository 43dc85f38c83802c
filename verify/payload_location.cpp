#include "verify/payload_location.h"

#include "common/fixed_paths.h"
#include "common/install_failure.h"
#include "verify/main_bundle.h"
#include "verify/messages.h"

namespace corvel {

std::string payloadURL(const std::optional<std::string>& resources) {
  if (!resources) throw InstallFailure(std::string(kNoResourcesMessage));
  std::string path = *resources;
  if (path.empty() || path.back() != '/') path += '/';
  return path + std::string(kPayloadName);
}

std::string payloadURL() { return payloadURL(mainBundleResourceDirectory()); }

}  // namespace corvel
