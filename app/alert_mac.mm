#import <AppKit/AppKit.h>

#include "app/alert.h"
#include "common/utf8.h"

namespace corvel {
namespace {

// A platform error may quote a path that is not UTF-8; NSString would give
// nil for it, which no alert text may be.
NSString* toNSString(const std::string& text) {
  return [NSString stringWithUTF8String:repairedUtf8(text).c_str()];
}

class NSAlertAlerts final : public Alerts {
 public:
  long present(const std::string& title, const std::string& message,
               const std::vector<std::string>& buttons) override {
    @autoreleasepool {
      NSAlert* alert = [[NSAlert alloc] init];
      [alert setMessageText:toNSString(title)];
      [alert setInformativeText:toNSString(message)];
      for (const std::string& button : buttons) [alert addButtonWithTitle:toNSString(button)];
      const NSModalResponse response = [alert runModal];
      [alert release];
      return static_cast<long>(response);
    }
  }
};

}  // namespace

Alerts& systemAlerts() {
  static NSAlertAlerts alerts;
  return alerts;
}

}  // namespace corvel
