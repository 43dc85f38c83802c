#import <AppKit/AppKit.h>

#include "app/application.h"

namespace corvel {

void becomeForegroundApplication() {
  @autoreleasepool {
    NSApplication* application = [NSApplication sharedApplication];
    [application setActivationPolicy:NSApplicationActivationPolicyRegular];
    [application activateIgnoringOtherApps:YES];
  }
}

}  // namespace corvel
