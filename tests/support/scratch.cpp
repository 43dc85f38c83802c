#include "tests/support/scratch.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
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

void makeSocket(const fs::path& path) {
  // A socket's address holds fewer characters than our paths: bind it at a
  // short path and move it.
  const fs::path bound = fs::temp_directory_path() / ("corvel-socket." + std::to_string(::getpid()));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (bound.string().size() >= sizeof(address.sun_path)) throw std::runtime_error("socket path too long");
  std::strcpy(address.sun_path, bound.c_str());
  const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (socket < 0) throw std::runtime_error("cannot make a socket");
  const int bound_status = ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  ::close(socket);
  if (bound_status != 0) throw std::runtime_error("cannot bind a socket at " + bound.string());
  fs::rename(bound, path);
}

void makeDeepTree(const fs::path& at, int levels) {
  // One level at a time, from the level before: the whole path is too long
  // for any call that takes a path.
  int directory = ::open(at.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int level = 0; level < levels && directory >= 0; ++level) {
    const int next = ::mkdirat(directory, "d", 0755) == 0
                         ? ::openat(directory, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                         : -1;
    ::close(directory);
    directory = next;
  }
  if (directory < 0) throw std::runtime_error("cannot make a deep tree in " + at.string());
  ::close(directory);
}

fs::path shippedPayload() { return fs::path(CORVEL_SOURCE_DIR) / "resources/Orlana2ch.driver"; }

void copyShippedPayload(const fs::path& destination) {
  fs::create_directories(destination.parent_path());
  fs::copy(shippedPayload(), destination, fs::copy_options::recursive);
}

}  // namespace corvel::testing
