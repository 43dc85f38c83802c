#include "install/installed_driver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <vector>

#include "common/file_descriptor.h"
#include "common/fixed_paths.h"
#include "common/install_failure.h"
#include "common/platform_error.h"
#include "install/existing_target.h"
#include "verify/build_manifest.h"
#include "verify/file_digest.h"
#include "verify/payload_validation.h"

namespace corvel {
namespace {

// A directory held open: everything below it is reached from it, never
// through a path again, so no link swapped in on the way is followed.
class Directory {
 public:
  // The entry `name` of the open directory `parent` (or, with AT_FDCWD, the
  // directory at the path `name`); a symbolic link there is refused, not
  // followed. `path` names it in messages.
  Directory(int parent, const std::string& name, std::string path) : path_(std::move(path)) {
    FileDescriptor fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) throwError("cannot open");
    stream_ = ::fdopendir(fd.get());
    if (stream_ == nullptr) throwError("cannot list");
    static_cast<void>(fd.release());  // the stream closes it now
  }
  ~Directory() { ::closedir(stream_); }
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  int fd() const { return dirfd(stream_); }  // a macro on some systems
  const std::string& path() const { return path_; }
  std::string pathOf(const std::string& name) const { return path_ + "/" + name; }

  // The names in it, "." and ".." left out, in byte order.
  std::vector<std::string> names() const {
    std::vector<std::string> names;
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(stream_);
      if (entry == nullptr) break;
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    if (errno != 0) throwError("cannot list");
    std::sort(names.begin(), names.end());
    return names;
  }

  // The entry `name` itself, a link as a link.
  struct stat examine(const std::string& name) const {
    struct stat status {};
    if (::fstatat(fd(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      const int error = errno;
      throw platformError(error, "cannot examine " + quotedPath(pathOf(name)));
    }
    return status;
  }

  struct stat examineItself() const {
    struct stat status {};
    if (::fstat(fd(), &status) != 0) throwError("cannot examine");
    return status;
  }

 private:
  [[noreturn]] void throwError(const char* operation) const {
    const int error = errno;
    throw platformError(error, std::string(operation) + " " + quotedPath(path_));
  }

  std::string path_;
  DIR* stream_ = nullptr;
};

// Every entry of the bundle, the bundle's own directory under "", each as
// itself (a link as a link), by relative path in byte order.
using Tree = std::map<std::string, struct stat>;

void walk(const Directory& directory, const std::string& relativePath, Tree& tree) {
  for (const std::string& name : directory.names()) {
    const std::string path = relativePath.empty() ? name : relativePath + "/" + name;
    const struct stat status = directory.examine(name);
    tree.emplace(path, status);
    if (S_ISDIR(status.st_mode)) walk(Directory(directory.fd(), name, directory.pathOf(name)), path, tree);
  }
}

std::string digestBelow(const Directory& directory, std::string_view relativePath) {
  const auto slash = relativePath.find('/');
  if (slash == std::string_view::npos) {
    const std::string name(relativePath);
    return fileDigestAt(directory.fd(), name, directory.pathOf(name));
  }
  const std::string name(relativePath.substr(0, slash));
  return digestBelow(Directory(directory.fd(), name, directory.pathOf(name)), relativePath.substr(slash + 1));
}

struct Difference {
  std::string reason;
  std::string path;
};

mode_t expectedMode(const std::string& path, const struct stat& status) {
  if (S_ISDIR(status.st_mode) || path == kDriverExecutable) return 0755;
  return 0644;
}

// The checks that need only the entries' types, owners and modes.
std::optional<Difference> firstShapeDifference(const Tree& tree) {
  const auto& manifest = BuildManifest::files();
  for (const auto& [path, status] : tree) {
    if (!S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode)) return Difference{"type", path};
  }
  for (const auto& [path, digest] : manifest) {
    const auto found = tree.find(path);
    if (found == tree.end() || !S_ISREG(found->second.st_mode)) return Difference{"missing", path};
  }
  for (const auto& [path, status] : tree) {
    if (S_ISREG(status.st_mode) && !manifest.contains(path)) return Difference{"extra", path};
  }
  for (const auto& [path, status] : tree) {
    if (status.st_uid != 0 || status.st_gid != 0) return Difference{"owner", path};
  }
  for (const auto& [path, status] : tree) {
    if ((status.st_mode & 07777) != expectedMode(path, status)) return Difference{"mode", path};
  }
  return std::nullopt;
}

std::optional<Difference> firstDigestDifference(const Directory& bundle) {
  for (const auto& [path, digest] : BuildManifest::files()) {
    if (digestBelow(bundle, path) != digest) return Difference{"digest", path};
  }
  return std::nullopt;
}

std::optional<Difference> signatureDifference(const std::string& bundle, const Runner& runner) {
  try {
    verifySignature(bundle, runner);
  } catch (const InstallFailure&) {
    // codesign ran and refused; one that cannot start is the platform's error.
    return Difference{"signature", ""};
  }
  return std::nullopt;
}

// checkExistingTarget counts a target it may not look at as absent, which is
// right for an install that the install script checks again, but this answer is
// final: only a target that is not there may be reported as not installed.
void confirmNothingAt(const std::string& target) {
  struct stat status {};
  if (::lstat(target.c_str(), &status) == 0) return;
  const int error = errno;
  if (error != ENOENT && error != ENOTDIR) throw platformError(error, "cannot examine " + quotedPath(target));
}

InstalledDriver differing(Difference difference) {
  return {InstalledDriver::Verdict::differs, std::move(difference.reason),
          difference.path.empty() ? "." : std::move(difference.path)};
}

}  // namespace

InstalledDriver checkInstalledDriver(const std::string& root, const Runner& runner) {
  const std::string target = root + std::string(kTargetPath);
  if (!checkExistingTarget(root)) {
    confirmNothingAt(target);
    return {};
  }

  // The directories above were just found to be no links. They are not
  // opened one by one: one that may be searched but not read is sound.
  const Directory bundle(AT_FDCWD, target, target);
  Tree tree = {{"", bundle.examineItself()}};
  walk(bundle, "", tree);
  if (auto difference = firstShapeDifference(tree)) return differing(*std::move(difference));
  if (auto difference = firstDigestDifference(bundle)) return differing(*std::move(difference));
  if (auto difference = signatureDifference(target, runner)) return differing(*std::move(difference));
  return {InstalledDriver::Verdict::matches, "", ""};
}

std::string installedDriverLine(const InstalledDriver& driver) {
  switch (driver.verdict) {
    case InstalledDriver::Verdict::notInstalled:
      return "DRIVER_NOT_INSTALLED";
    case InstalledDriver::Verdict::matches:
      return "INSTALLED_DRIVER_MATCHES";
    case InstalledDriver::Verdict::differs:
      break;
  }
  return "INSTALLED_DRIVER_DIFFERS reason=" + driver.reason + " path=" + percentEncoded(driver.path);
}

std::string percentEncoded(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char character : path) {
    const auto byte = static_cast<unsigned char>(character);
    const bool kept = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                      (byte >= '0' && byte <= '9') || byte == '.' || byte == '_' || byte == '-' ||
                      byte == '/';
    if (kept) {
      encoded += character;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

}  // namespace corvel
