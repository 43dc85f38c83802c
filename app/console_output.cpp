#include "app/console_output.h"

#include <unistd.h>

#include <cerrno>

#include "common/platform_error.h"
#include "common/system_calls.h"

namespace corvel {

void writeAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n =
        retryingInterrupted([&] { return ::write(fd, text.data() + written, text.size() - written); });
    if (n < 0) {
      const int error = errno;
      throw platformError(
          error, fd == STDOUT_FILENO ? "cannot write to standard output" : "cannot write the output");
    }
    written += static_cast<std::size_t>(n);
  }
}

}  // namespace corvel
