#import <Foundation/Foundation.h>

#include "verify/main_bundle.h"

namespace corvel {

std::optional<std::string> mainBundleResourceDirectory() {
  @autoreleasepool {
    NSURL* resources = [[NSBundle mainBundle] resourceURL];
    if (resources == nil || ![resources isFileURL]) return std::nullopt;
    const char* path = [[resources path] fileSystemRepresentation];
    if (path == nullptr) return std::nullopt;
    return std::string(path);
  }
}

}  // namespace corvel
