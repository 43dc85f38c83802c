#include "install/existing_target.h"

#include <sys/stat.h>

#include <cerrno>

#include "common/fixed_paths.h"
#include "common/install_failure.h"
#include "common/platform_error.h"

namespace corvel {
namespace {

constexpr std::string_view kSymbolicLinkMessage =
    "音频驱动目录使用了符号链接。为避免修改错误的位置，安装已停止。";
constexpr std::string_view kSameNameFileMessage = "音频驱动位置已有同名文件，安装已停止。请交由管理员检查。";

bool isSymbolicLink(const std::string& path) {
  struct stat status {};
  // A path that cannot be examined (missing, under a file, not searchable)
  // is no link; the install script creates or refuses it.
  return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

}  // namespace

bool checkExistingTarget(const std::string& root) {
  for (const std::string_view guarded : kGuardedPaths) {
    if (isSymbolicLink(root + std::string(guarded))) {
      throw InstallFailure(std::string(kSymbolicLinkMessage));
    }
  }

  const std::string target = root + std::string(kTargetPath);
  if (!exists(target)) return false;
  struct stat status {};
  if (::lstat(target.c_str(), &status) != 0) {
    const int error = errno;
    throw platformError(error, "cannot examine " + quotedPath(target));
  }
  if (S_ISDIR(status.st_mode)) return true;
  throw InstallFailure(std::string(kSameNameFileMessage));
}

}  // namespace corvel
