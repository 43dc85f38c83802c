#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// The string value stored under `key` in an XML property list: the text of
// the <string> element that follows <key>KEY</key>, with XML character
// references decoded. Absent when the key is missing, is followed by anything
// but a string, or the text is malformed. Only the first occurrence counts,
// which is enough for the flat dictionaries read here (a bundle's Info.plist,
// the system's SystemVersion.plist).
std::optional<std::string> plistString(std::string_view xml, std::string_view key);

}  // namespace corvel
