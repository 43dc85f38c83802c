#include "verify/payload_validation.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <optional>
#include <vector>

#include "common/install_failure.h"
#include "common/platform_error.h"
#include "verify/build_manifest.h"
#include "verify/file_digest.h"
#include "verify/messages.h"

namespace corvel {
namespace {

struct PayloadFile {
  std::string relativePath;
  std::string path;
};

// What the walk found, in walk order: the regular files, and the entry that
// ended the walk early, if one did. Every file listed comes before that entry.
struct Walk {
  std::vector<PayloadFile> files;
  std::exception_ptr stoppedBy;
};

struct stat examine(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) {
    const int error = errno;
    throw platformError(error, "cannot examine " + quotedPath(path));
  }
  return status;
}

// The names in `directory`, in byte order; none when it cannot be listed.
std::optional<std::vector<std::string>> listing(const std::string& directory) {
  DIR* stream = ::opendir(directory.c_str());
  if (stream == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(stream)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(stream);
  std::sort(names.begin(), names.end());
  return names;
}

Walk walk(const std::string& root) {
  const auto top = listing(root);
  if (!top) throw InstallFailure(std::string(kInvalidPayloadMessage));

  // Relative paths still to examine; the next one is at the back.
  std::vector<std::string> stack;
  const auto pushChildren = [&stack](const std::string& prefix, const std::vector<std::string>& names) {
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
      stack.push_back(prefix.empty() ? *name : prefix + "/" + *name);
    }
  };
  pushChildren("", *top);

  Walk found;
  while (!stack.empty()) {
    const std::string relativePath = std::move(stack.back());
    stack.pop_back();
    const std::string path = root + "/" + relativePath;
    try {
      const struct stat status = examine(path);
      if (S_ISREG(status.st_mode)) {
        found.files.push_back({relativePath, path});
      } else if (S_ISDIR(status.st_mode)) {
        if (const auto names = listing(path)) pushChildren(relativePath, *names);
      } else {
        throw InstallFailure(std::string(kUnsupportedEntryMessage));
      }
    } catch (...) {
      found.stoppedBy = std::current_exception();
      return found;
    }
  }
  return found;
}

}  // namespace

std::map<std::string, std::string> payloadInventory(const std::string& payload) {
  const struct stat status = examine(payload);
  if (!S_ISDIR(status.st_mode)) throw InstallFailure(std::string(kInvalidPayloadMessage));

  const Walk found = walk(payload);
  std::map<std::string, std::string> inventory;
  for (const PayloadFile& file : found.files) {
    inventory[file.relativePath] = fileDigest(file.path);
  }
  if (found.stoppedBy) std::rethrow_exception(found.stoppedBy);
  return inventory;
}

void validatePayload(const std::string& payload, const Runner& runner) {
  if (payloadInventory(payload) != BuildManifest::files()) {
    throw InstallFailure(std::string(kDigestMismatchMessage));
  }
  verifySignature(payload, runner);
}

void verifySignature(const std::string& bundle, const Runner& runner) {
  runner("/usr/bin/codesign",
         {"--verify", "--deep", "--strict", "--test-requirement", signatureRequirement(), bundle});
}

}  // namespace corvel
