#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "common/system_calls.h"

namespace corvel::testing {

// Stands in for the program's system calls while it lives and puts the
// system's own back when it goes, so that a test can make a read or a spawn
// fail the way the machine rarely does on demand.
class SystemCallFaults {
 public:
  SystemCallFaults() : saved_(systemCalls()) {}
  ~SystemCallFaults() { systemCalls() = saved_; }
  SystemCallFaults(const SystemCallFaults&) = delete;
  SystemCallFaults& operator=(const SystemCallFaults&) = delete;

  SystemCalls& calls() { return systemCalls(); }

 private:
  SystemCalls saved_;
};

// How a faulty read behaves; each forwards to the real read when it does not fail.
enum class ReadFault {
  interruptedEveryOtherCall,  // EINTR before each real read
  oneByteAtATime,             // short reads
  inputOutputError,           // EIO at once
};

inline SystemCalls::Read faultyRead(ReadFault fault) {
  return [fault, interrupted = false](int fd, void* buffer, std::size_t size) mutable -> ssize_t {
    switch (fault) {
      case ReadFault::interruptedEveryOtherCall:
        interrupted = !interrupted;
        if (interrupted) {
          errno = EINTR;
          return -1;
        }
        return ::read(fd, buffer, size);
      case ReadFault::oneByteAtATime:
        return ::read(fd, buffer, size == 0 ? 0 : 1);
      case ReadFault::inputOutputError:
        errno = EIO;
        return -1;
    }
    return -1;
  };
}

}  // namespace corvel::testing
