#include "common/utf8.h"

namespace corvel {
namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

struct Decoded {
  std::uint32_t codePoint;
  std::size_t length;  // bytes consumed
};

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// One code point from the front of `bytes`, or U+FFFD for the longest prefix
// that could have begun a well-formed sequence (at least one byte).
Decoded decodeOne(const unsigned char* bytes, std::size_t available) {
  const unsigned char lead = bytes[0];
  if (lead < 0x80) return {lead, 1};

  std::size_t length = 0;
  std::uint32_t codePoint = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {kReplacement, 1};
  }

  for (std::size_t i = 1; i < length; ++i) {
    if (i >= available) return {kReplacement, i};
    const unsigned char byte = bytes[i];
    const bool inRange = i == 1 ? (byte >= low && byte <= high) : isContinuation(byte);
    if (!inRange) return {kReplacement, i};
    codePoint = (codePoint << 6) | (byte & 0x3F);
  }
  return {codePoint, length};
}

}  // namespace

std::u32string decodedUtf8(const std::string& bytes) {
  std::u32string text;
  text.reserve(bytes.size());
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t at = 0; at < bytes.size();) {
    const Decoded decoded = decodeOne(data + at, bytes.size() - at);
    text.push_back(decoded.codePoint);
    at += decoded.length;
  }
  return text;
}

std::string repairedUtf8(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char32_t c : decodedUtf8(bytes)) appendUtf8(text, c);
  return text;
}

}  // namespace corvel
