#pragma once

#include <unistd.h>

#include <utility>

namespace corvel {

// Owns one open descriptor and closes it when dropped; -1 holds nothing.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  // Hands the descriptor over to whatever closes it from now on.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace corvel
