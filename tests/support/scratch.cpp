#include "tests/support/scratch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace corvel::testing {
namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "corvel-test.XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  // Readable by the unprivileged user that some tests run as.
  fs::permissions(path_, fs::perms(0755));
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Tests may leave entries without permissions; give them back first.
  for (auto it =
           fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

void writeFile(const fs::path& path, const std::string& contents) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path shippedPayload() { return fs::path(CORVEL_SOURCE_DIR) / "resources/Orlana2ch.driver"; }

void copyShippedPayload(const fs::path& destination) {
  fs::create_directories(destination.parent_path());
  fs::copy(shippedPayload(), destination, fs::copy_options::recursive);
}

}  // namespace corvel::testing
