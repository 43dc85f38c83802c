#pragma once

#include <spawn.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <functional>

namespace corvel {

// The system calls whose failures the program must handle well, behind one
// seam so that tests can make them fail: a read interrupted, failing or
// returning less than asked, a program that cannot be started. The program
// itself never changes them.
struct SystemCalls {
  using Read = std::function<ssize_t(int fd, void* buffer, std::size_t size)>;
  using Spawn =
      std::function<int(pid_t* child, const char* path, const posix_spawn_file_actions_t* actions,
                        const posix_spawnattr_t* attributes, char* const argv[], char* const envp[])>;
  Read read;
  Spawn spawn;
};

// The calls in force: the system's own unless a test has stood in for them.
SystemCalls& systemCalls();

// Repeats `call` for as long as it fails with EINTR, a signal that arrived
// mid-call, and returns its first other result (errno set as it left it).
template <typename Call>
auto retryingInterrupted(Call call) {
  for (;;) {
    const auto result = call();
    if (result >= 0 || errno != EINTR) return result;
  }
}

}  // namespace corvel
