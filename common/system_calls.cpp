#include "common/system_calls.h"

#include <unistd.h>

namespace corvel {

SystemCalls& systemCalls() {
  static SystemCalls calls{::read, ::posix_spawn};
  return calls;
}

}  // namespace corvel
