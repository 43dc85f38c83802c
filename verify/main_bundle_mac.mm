#import <Foundation/Foundation.h>

#include <climits>

#include "verify/main_bundle.h"

namespace corvel {

std::optional<std::string> mainBundleResourceDirectory() {
  @autoreleasepool {
    NSURL* resources = [[NSBundle mainBundle] resourceURL];
    if (resources == nil || ![resources isFileURL]) return std::nullopt;
    // fileSystemRepresentation raises an exception for a path it cannot
    // convert, and an Objective-C exception passes by every C++ handler; this
    // form answers with a flag instead.
    char path[PATH_MAX];
    if (![resources getFileSystemRepresentation:path maxLength:sizeof path]) return std::nullopt;
    return std::string(path);
  }
}

}  // namespace corvel
