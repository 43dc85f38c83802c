#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "common/clean_environment.h"
#include "common/file_descriptor.h"
#include "common/platform_error.h"
#include "common/system_calls.h"
#include "verify/child_process.h"

namespace corvel {
namespace {

// Replaces the descriptor by a close-on-exec copy numbered 3 or above, so
// that it can never collide with the child's standard descriptors even when
// the installer was started with some of them closed.
void moveAboveStandardDescriptors(FileDescriptor& descriptor) {
  const int high = ::fcntl(descriptor.get(), F_DUPFD_CLOEXEC, 3);
  if (high < 0) {
    const int error = errno;
    throw platformError(error, "cannot set up a pipe");
  }
  descriptor.reset(high);
}

// The child starts with SIGPIPE at its default action even where the
// installer ignores it, as a program started from a shell would.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    check(::posix_spawnattr_init(&attributes_));
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    check(::posix_spawnattr_setsigdefault(&attributes_, &defaults));
    check(::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF));
  }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  static void check(int error) {
    if (error != 0) throw platformError(error, "cannot prepare a child process");
  }
  posix_spawnattr_t attributes_{};
};

class SpawnActions {
 public:
  SpawnActions() {
    if (const int error = ::posix_spawn_file_actions_init(&actions_); error != 0) {
      throw platformError(error, "cannot prepare a child process");
    }
  }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;

  void duplicate(int from, int to) { check(::posix_spawn_file_actions_adddup2(&actions_, from, to)); }
  void open(int fd, const char* path, int flags) {
    check(::posix_spawn_file_actions_addopen(&actions_, fd, path, flags, 0));
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  static void check(int error) {
    if (error != 0) throw platformError(error, "cannot prepare a child process");
  }
  posix_spawn_file_actions_t actions_{};
};

std::string readToEnd(int fd) {
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const ssize_t got = retryingInterrupted([&] { return systemCalls().read(fd, buffer, sizeof buffer); });
    if (got < 0) {
      const int error = errno;
      throw platformError(error, "cannot read a child process's output");
    }
    if (got == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

int waitFor(pid_t child) {
  int status = 0;
  if (retryingInterrupted([&] { return ::waitpid(child, &status, 0); }) < 0) {
    const int error = errno;
    throw platformError(error, "cannot wait for a child process");
  }
  return status;
}

}  // namespace

ChildOutcome runChild(const std::string& executable, const std::vector<std::string>& arguments,
                      ErrorStream errorStream) {
  int ends[2];
  if (::pipe(ends) != 0) {
    const int error = errno;
    throw platformError(error, "cannot create a pipe for " + executable);
  }
  FileDescriptor readEnd(ends[0]);
  FileDescriptor writeEnd(ends[1]);
  moveAboveStandardDescriptors(readEnd);
  moveAboveStandardDescriptors(writeEnd);

  SpawnActions actions;
  actions.duplicate(writeEnd.get(), STDOUT_FILENO);
  if (errorStream == ErrorStream::intoOutput) {
    actions.duplicate(writeEnd.get(), STDERR_FILENO);
  } else {
    actions.open(STDERR_FILENO, "/dev/null", O_WRONLY);
  }

  std::vector<char*> argv;
  argv.reserve(arguments.size() + 2);
  argv.push_back(const_cast<char*>(executable.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  // Whatever the process's own environment holds by now, the child starts
  // with the clean one.
  const SpawnAttributes attributes;
  pid_t child = -1;
  if (const int error = systemCalls().spawn(&child, executable.c_str(), actions.get(), attributes.get(),
                                            argv.data(), cleanEnvironment());
      error != 0) {
    throw platformError(error, "cannot start " + executable);
  }

  // Only the child may hold the write end now, or the read would never see
  // the end of the output.
  writeEnd.reset();
  ChildOutcome outcome;
  try {
    outcome.output = readToEnd(readEnd.get());
  } catch (...) {
    readEnd.reset();  // a child still writing then stops instead of blocking
    waitFor(child);
    throw;
  }
  outcome.waitStatus = waitFor(child);
  return outcome;
}

bool exitedCleanly(int waitStatus) { return WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0; }

}  // namespace corvel
