#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// What running an AppleScript gave: a result, possibly without text, or an
// error with the number it carried, if it carried a number at all.
struct ScriptOutcome {
  bool failed = false;
  std::optional<long> errorNumber;        // when failed
  std::optional<std::string> resultText;  // when not failed
};

// The AppleScript error number of a cancelled administrator prompt.
inline constexpr long kUserCancelledError = -128;

// Runs AppleScript source, as `do shell script ... with administrator
// privileges` needs it: blocks until the administrator prompt has been
// answered and the shell script has ended.
class AdministratorScripts {
 public:
  virtual ~AdministratorScripts() = default;
  // None when no script object can be made from the source.
  virtual std::optional<ScriptOutcome> execute(const std::string& appleScriptSource) = 0;
};

// NSAppleScript on macOS; elsewhere the sudo prompt (SudoAdministratorScripts),
// which runs the shell script directly when already root and through sudo
// otherwise.
AdministratorScripts& systemAdministratorScripts();

// `script` as the inside of an AppleScript string literal: every backslash
// doubled, then every double quote preceded by a backslash.
std::string appleScriptEscaped(const std::string& script);

// The AppleScript that runs `script` as root through the administrator prompt:
//   do shell script "ESCAPED" with administrator privileges
std::string administratorAppleScript(const std::string& script);

// The shell script inside AppleScript of that one form, its literal read with
// AppleScript's escapes; none for any other source, or a literal with an
// unescaped quote or an escape AppleScript does not know.
std::optional<std::string> shellScriptOf(std::string_view appleScriptSource);

}  // namespace corvel
