#include <charconv>

#include "verify/system_version.h"

namespace corvel {

int majorVersionOf(std::string_view productVersion) {
  const std::string_view major = productVersion.substr(0, productVersion.find('.'));
  int value = 0;
  const auto [end, error] = std::from_chars(major.data(), major.data() + major.size(), value);
  if (major.empty() || error != std::errc() || end != major.data() + major.size() || value < 0) {
    return 0;
  }
  return value;
}

}  // namespace corvel
