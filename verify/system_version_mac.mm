#import <Foundation/Foundation.h>

#include "verify/system_version.h"

namespace corvel {

int operatingSystemMajorVersion() {
  @autoreleasepool {
    const NSOperatingSystemVersion version = [[NSProcessInfo processInfo] operatingSystemVersion];
    return static_cast<int>(version.majorVersion);
  }
}

}  // namespace corvel
