// Outside macOS the administrator prompt is sudo's. Only the one form of
// AppleScript this installer makes is understood:
//   do shell script "…" with administrator privileges
// Its string literal is read with AppleScript's escapes and run with
// /bin/sh -c, directly when already root, otherwise through sudo, whose
// refused or cancelled authentication is reported as a cancelled prompt.
// The shell, or sudo, starts with the clean environment and nothing else
// (runChild passes it explicitly); sudo then adds only what it sets itself
// for root (HOME, USER, LOGNAME, SHELL, MAIL and its SUDO_ variables).

#include <sys/wait.h>
#include <unistd.h>

#include <exception>

#include "app/administrator_script.h"
#include "verify/child_process.h"

namespace corvel {
namespace {

// As do shell script gives a result: one trailing line feed dropped, the
// other line feeds turned into carriage returns.
std::string resultTextOf(std::string output) {
  if (!output.empty() && output.back() == '\n') output.pop_back();
  for (char& c : output) {
    if (c == '\n') c = '\r';
  }
  return output;
}

long errorNumberOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return 1;
}

class SudoAdministratorScripts final : public AdministratorScripts {
 public:
  std::optional<ScriptOutcome> execute(const std::string& appleScriptSource) override {
    const auto script = shellScriptOf(appleScriptSource);
    if (!script) return std::nullopt;
    try {
      if (::geteuid() == 0) return outcomeOf(runChild("/bin/sh", {"-c", *script}, ErrorStream::discarded));
      // Authenticating first tells a refused prompt from a failing script,
      // whose exit status sudo would otherwise pass on alike. (Where sudo
      // keeps no credentials at all between calls, the run that follows
      // fails and shows as a failed installation.)
      if (!exitedCleanly(runChild("/usr/bin/sudo", {"-v"}, ErrorStream::discarded).waitStatus)) {
        return ScriptOutcome{true, kUserCancelledError, std::nullopt};
      }
      return outcomeOf(runChild("/usr/bin/sudo", {"-n", "/bin/sh", "-c", *script}, ErrorStream::discarded));
    } catch (const std::exception&) {
      // The shell or sudo could not be started: an error without a number.
      return ScriptOutcome{true, std::nullopt, std::nullopt};
    }
  }

 private:
  static ScriptOutcome outcomeOf(const ChildOutcome& child) {
    ScriptOutcome outcome;
    if (exitedCleanly(child.waitStatus)) {
      outcome.resultText = resultTextOf(child.output);
    } else {
      outcome.failed = true;
      outcome.errorNumber = errorNumberOf(child.waitStatus);
    }
    return outcome;
  }
};

}  // namespace

AdministratorScripts& systemAdministratorScripts() {
  static SudoAdministratorScripts scripts;
  return scripts;
}

}  // namespace corvel
