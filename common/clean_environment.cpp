#include "common/clean_environment.h"

// macOS declares it in no header.
extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace corvel {
namespace {

// The children's copy, never handed to anything that could edit it.
char childSearchPath[] = "PATH=/usr/bin:/bin:/usr/sbin:/sbin";
char* childEntries[] = {childSearchPath, nullptr};

// The process's own copy: setenv and unsetenv may rearrange this array (the C
// library owns `environ` from here on), but not the children's.
char ownSearchPath[] = "PATH=/usr/bin:/bin:/usr/sbin:/sbin";
char* ownEntries[] = {ownSearchPath, nullptr};

}  // namespace

char* const* cleanEnvironment() { return childEntries; }

void replaceEnvironment() { environ = ownEntries; }

}  // namespace corvel
