#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// The string stored under `key` in the top-level dictionary of a property
// list, read by the platform's own property-list library, so that every form
// macOS writes and accepts (XML and binary) is read as macOS reads it. Absent
// when `data` is no property list, its top level is no dictionary, that
// dictionary lacks the key, or the key's value is not a string; a key of a
// nested dictionary never counts.
std::optional<std::string> topLevelPropertyListString(std::string_view data, std::string_view key);

}  // namespace corvel
