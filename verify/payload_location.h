#pragma once

#include <optional>
#include <string>

namespace corvel {

// The driver bundle inside the resource directory `resources`, as an
// absolute path with no trailing "/". Looks at nothing on disk: whether the
// payload is there, and is what it must be, is the validation's to say.
std::string payloadURL(const std::optional<std::string>& resources);

// The same, in this application's own resources.
std::string payloadURL();

}  // namespace corvel
