// The one form of AppleScript this installer hands to the administrator
// prompt, both ways: the flow writes it, and the POSIX stand-in for the prompt
// reads it back.

#include "app/administrator_script.h"

namespace corvel {
namespace {

constexpr std::string_view kPrefix = "do shell script \"";
constexpr std::string_view kSuffix = "\" with administrator privileges";

std::string replacedAll(const std::string& text, char from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == from) {
      out += to;
    } else {
      out += c;
    }
  }
  return out;
}

// The text of an AppleScript string literal's inside; none when it holds an
// unescaped quote or an escape AppleScript does not know.
std::optional<std::string> unescapedLiteral(std::string_view literal) {
  std::string text;
  for (std::size_t i = 0; i < literal.size(); ++i) {
    const char c = literal[i];
    if (c == '"') return std::nullopt;
    if (c != '\\') {
      text += c;
      continue;
    }
    if (++i == literal.size()) return std::nullopt;
    switch (literal[i]) {
      case '\\':
        text += '\\';
        break;
      case '"':
        text += '"';
        break;
      case 'n':
        text += '\n';
        break;
      case 'r':
        text += '\r';
        break;
      case 't':
        text += '\t';
        break;
      default:
        return std::nullopt;
    }
  }
  return text;
}

}  // namespace

std::string appleScriptEscaped(const std::string& script) {
  return replacedAll(replacedAll(script, '\\', "\\\\"), '"', "\\\"");
}

std::string administratorAppleScript(const std::string& script) {
  return std::string(kPrefix) + appleScriptEscaped(script) + std::string(kSuffix);
}

std::optional<std::string> shellScriptOf(std::string_view appleScriptSource) {
  const std::string_view source = appleScriptSource;
  if (source.size() < kPrefix.size() + kSuffix.size() || source.substr(0, kPrefix.size()) != kPrefix ||
      source.substr(source.size() - kSuffix.size()) != kSuffix) {
    return std::nullopt;
  }
  return unescapedLiteral(source.substr(kPrefix.size(), source.size() - kPrefix.size() - kSuffix.size()));
}

}  // namespace corvel
