#pragma once

#include <map>
#include <string>
#include <string_view>

#include "verify/signature_requirement.h"

namespace corvel {

// What the installer accepts, fixed when the application is built from the
// driver bundle that ships inside it.
struct BuildManifest {
  BuildManifest() = delete;

  // The Apple developer team that signs the payload.
  static constexpr std::string_view teamIdentifier = "K7QZ2RM4TD";

  // Relative path of every regular file of the payload -> its digest text.
  // Built once, on first use.
  static const std::map<std::string, std::string>& files();

  // The payload's CFBundleIdentifier, read from its Info.plist at build time.
  static std::string_view bundleIdentifier();
};

// The requirement of this build's payload. Built once, on first use.
const std::string& signatureRequirement();

}  // namespace corvel
