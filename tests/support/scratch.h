#pragma once

#include <filesystem>
#include <string>

namespace corvel::testing {

// A fresh directory, removed with everything in it when the test ends.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return (path_ / relative).string(); }

 private:
  std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& contents);
std::string readFile(const std::filesystem::path& path);

// A Unix-domain socket at `path`, left there unused.
void makeSocket(const std::filesystem::path& path);

// `levels` directories named "d", each in the one before, in `at`: a tree
// whose innermost path is longer than a path may be.
void makeDeepTree(const std::filesystem::path& at, int levels);

// The driver bundle this build ships, as the source tree holds it.
std::filesystem::path shippedPayload();

// A copy of the shipped payload at `destination`, modes kept.
void copyShippedPayload(const std::filesystem::path& destination);

}  // namespace corvel::testing
