#include "common/plist_text.h"

#include "common/utf8.h"

#include <charconv>
#include <cstdint>

namespace corvel {
namespace {

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::optional<std::uint32_t> numericReference(std::string_view digits) {
  int base = 10;
  if (!digits.empty() && (digits.front() == 'x' || digits.front() == 'X')) {
    base = 16;
    digits.remove_prefix(1);
  }
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value == 0 ||
      value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> decodeCharacterData(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    const auto amp = text.find('&');
    out.append(text.substr(0, amp));
    if (amp == std::string_view::npos) break;
    text.remove_prefix(amp + 1);
    const auto semicolon = text.find(';');
    if (semicolon == std::string_view::npos) return std::nullopt;
    const std::string_view name = text.substr(0, semicolon);
    text.remove_prefix(semicolon + 1);
    if (name == "amp")
      out += '&';
    else if (name == "lt")
      out += '<';
    else if (name == "gt")
      out += '>';
    else if (name == "quot")
      out += '"';
    else if (name == "apos")
      out += '\'';
    else if (!name.empty() && name.front() == '#') {
      const auto cp = numericReference(name.substr(1));
      if (!cp) return std::nullopt;
      appendUtf8(out, *cp);
    } else {
      return std::nullopt;
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> plistString(std::string_view xml, std::string_view key) {
  const std::string keyElement = "<key>" + std::string(key) + "</key>";
  const auto keyAt = xml.find(keyElement);
  if (keyAt == std::string_view::npos) return std::nullopt;
  std::string_view rest = xml.substr(keyAt + keyElement.size());
  while (!rest.empty() && isXmlSpace(rest.front())) rest.remove_prefix(1);

  if (rest.substr(0, 9) == "<string/>") return std::string();
  constexpr std::string_view open = "<string>";
  constexpr std::string_view close = "</string>";
  if (rest.substr(0, open.size()) != open) return std::nullopt;
  rest.remove_prefix(open.size());
  const auto end = rest.find(close);
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view text = rest.substr(0, end);
  if (text.find('<') != std::string_view::npos) return std::nullopt;
  return decodeCharacterData(text);
}

}  // namespace corvel
