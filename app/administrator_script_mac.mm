#import <Foundation/Foundation.h>

#include "app/administrator_script.h"

namespace corvel {
namespace {

class AppleScriptAdministratorScripts final : public AdministratorScripts {
 public:
  std::optional<ScriptOutcome> execute(const std::string& appleScriptSource) override {
    @autoreleasepool {
      NSString* source = [NSString stringWithUTF8String:appleScriptSource.c_str()];
      NSAppleScript* script = source == nil ? nil : [[NSAppleScript alloc] initWithSource:source];
      if (script == nil) return std::nullopt;

      NSDictionary* errorInfo = nil;
      NSAppleEventDescriptor* result = [script executeAndReturnError:&errorInfo];
      ScriptOutcome outcome;
      if (errorInfo != nil) {
        outcome.failed = true;
        id number = [errorInfo objectForKey:NSAppleScriptErrorNumber];
        if ([number isKindOfClass:[NSNumber class]]) outcome.errorNumber = [number integerValue];
      } else if (NSString* text = [result stringValue]) {
        if (const char* utf8 = [text UTF8String]) outcome.resultText = std::string(utf8);
      }
      [script release];
      return outcome;
    }
  }
};

}  // namespace

AdministratorScripts& systemAdministratorScripts() {
  static AppleScriptAdministratorScripts scripts;
  return scripts;
}

}  // namespace corvel
