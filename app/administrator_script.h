#pragma once

#include <optional>
#include <string>

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

// NSAppleScript on macOS; elsewhere the console stand-in.
AdministratorScripts& systemAdministratorScripts();

}  // namespace corvel
