#include "app/installation_steps.h"

#include "install/existing_target.h"
#include "install/install_script.h"
#include "verify/payload_location.h"
#include "verify/payload_validation.h"
#include "verify/platform_check.h"

namespace corvel {

InstallationSteps InstallationSteps::ofThisMachine() {
  return {
      [] { corvel::validatePlatform(); },
      [] { return corvel::payloadURL(); },
      [](const std::string& payload) { corvel::validatePayload(payload); },
      [] { return corvel::checkExistingTarget(); },
      [](const std::string& payload) { return corvel::installCommand(payload); },
  };
}

std::string InstallationSteps::validatedPayload() const {
  validatePlatform();
  std::string payload = payloadURL();
  validatePayload(payload);
  return payload;
}

}  // namespace corvel
