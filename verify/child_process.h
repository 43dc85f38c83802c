#pragma once

#include <string>
#include <vector>

namespace corvel {

enum class ErrorStream {
  intoOutput,  // the child's standard error shares the output pipe
  discarded,   // the child's standard error goes to /dev/null
};

struct ChildOutcome {
  int waitStatus = 0;  // as waitpid reports it
  std::string output;  // every byte the child wrote to the pipe
};

// Starts the program at the absolute path `executable` with `arguments` as
// separate words (no search path, no shell), reads its output until end of
// file while it runs, then waits for it. Standard input and the working
// directory are the caller's; the environment is the clean one
// (common/clean_environment.h), never the caller's. A program that cannot be
// started is thrown as the platform's error, naming the program.
ChildOutcome runChild(const std::string& executable, const std::vector<std::string>& arguments,
                      ErrorStream errorStream);

// True when the child exited normally with status 0.
bool exitedCleanly(int waitStatus);

}  // namespace corvel
