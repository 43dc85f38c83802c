#pragma once

#include <cstdint>
#include <string>

namespace corvel {

// The code points of UTF-8 `bytes`, each maximal ill-formed subpart replaced
// by one U+FFFD, so decoding never fails.
std::u32string decodedUtf8(const std::string& bytes);

// `bytes` as well-formed UTF-8, ill-formed parts replaced by U+FFFD.
std::string repairedUtf8(const std::string& bytes);

// Appends the UTF-8 encoding of the Unicode scalar value `c`.
inline void appendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace corvel
