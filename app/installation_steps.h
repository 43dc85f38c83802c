#pragma once

#include <functional>
#include <string>

namespace corvel {

// The checks and the script builder that both modes run, so that tests can
// stand in for the machine.
struct InstallationSteps {
  std::function<void()> validatePlatform;
  std::function<std::string()> payloadURL;
  std::function<void(const std::string&)> validatePayload;
  std::function<bool()> checkExistingTarget;
  std::function<std::string(const std::string&)> installCommand;

  static InstallationSteps ofThisMachine();

  // The checks that come before the install location, in their one order
  // for both modes: the platform, then where the payload is, then the
  // payload itself. Returns the payload's path; the first failure throws.
  std::string validatedPayload() const;
};

}  // namespace corvel
