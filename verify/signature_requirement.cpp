#include "verify/signature_requirement.h"

namespace corvel {

std::string signatureRequirementFor(std::string_view team, std::string_view bundleIdentifier) {
  std::string requirement =
      "=anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] exists and "
      "certificate leaf[field.1.2.840.113635.100.6.1.13] exists and certificate "
      "leaf[subject.OU] = ";
  requirement += '"';
  requirement += team;
  requirement += '"';
  requirement += " and identifier ";
  requirement += '"';
  requirement += bundleIdentifier;
  requirement += '"';
  return requirement;
}

}  // namespace corvel
