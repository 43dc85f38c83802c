// Code a hostile caller would plant, for tests/system/hostile_environment_test.cpp.
// Whatever program loads this library, its constructor appends that program's
// name to /Users/mallory/pwned in the simulated Mac, where real hostile code
// would do anything else it liked with the program's rights. The installer
// itself is spared: what its caller loads into it runs with the caller's own
// rights on a Mac, where the installer is never root. The question is whether
// it reaches the install script and its tools.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

__attribute__((constructor)) void leaveMark() {
  const std::string program = program_invocation_short_name;
  if (program == "CorvelDriverInstaller") return;
  const int fd = ::open("/Users/mallory/pwned", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string line = "a hostile library in " + program + "\n";
  static_cast<void>(::write(fd, line.data(), line.size()));
  ::close(fd);
}

}  // namespace
