#include "verify/file_digest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "common/file_descriptor.h"
#include "common/platform_error.h"
#include "common/system_calls.h"
#include "verify/sha256.h"

namespace corvel {
namespace {

// Large enough that the per-read cost vanishes beside hashing (measured equal
// from 128 KiB to 1 MiB), small enough that memory stays flat.
constexpr std::size_t kReadSize = std::size_t{256} * 1024;

}  // namespace

std::string fileDigest(const std::string& path) { return fileDigestAt(AT_FDCWD, path, path); }

std::string fileDigestAt(int directory, const std::string& name, const std::string& path) {
  // O_NONBLOCK keeps a named pipe swapped in from blocking the open; the
  // fstat below then refuses it.
  const FileDescriptor file(
      ::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    const int error = errno;
    throw platformError(error, "cannot open " + quotedPath(path));
  }

  struct stat status {};
  if (::fstat(file.get(), &status) != 0) {
    const int error = errno;
    throw platformError(error, "cannot examine " + quotedPath(path));
  }
  if (!S_ISREG(status.st_mode)) {
    throw platformError(EINVAL, "cannot read " + quotedPath(path) + ", which is not a regular file");
  }

  Sha256 sha;
  const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(kReadSize);
  for (;;) {
    const ssize_t got =
        retryingInterrupted([&] { return systemCalls().read(file.get(), buffer.get(), kReadSize); });
    if (got < 0) {
      const int error = errno;
      throw platformError(error, "cannot read " + quotedPath(path));
    }
    if (got == 0) break;
    sha.update(buffer.get(), static_cast<std::size_t>(got));
  }
  return digestText(sha.finish());
}

}  // namespace corvel
