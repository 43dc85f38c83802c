#include "verify/run.h"

#include "common/install_failure.h"
#include "verify/child_process.h"
#include "verify/messages.h"

namespace corvel {

std::string run(const std::string& executable, const std::vector<std::string>& arguments) {
  const ChildOutcome outcome = runChild(executable, arguments, ErrorStream::intoOutput);
  if (!exitedCleanly(outcome.waitStatus)) throw InstallFailure(std::string(kIntegrityMessage));
  return decodedAndTrimmed(outcome.output);
}

}  // namespace corvel
