// Runs the installer's interactive flow with its real alerts (app/alert_mac.mm,
// compiled unchanged against GNUstep's AppKit) and stand-ins for the machine,
// and tells the test on standard output what each alert shows while it is on
// the screen, so that the test can press one of its buttons with the mouse.
//
//   alerts_driver [--pictures DIR] FLOW...
//
// Each FLOW runs installInteractively() once against a machine that leads to
// a chosen ending:
//   installs           the checks pass; the root script prints the installed marker
//   script-fails       the checks pass; the root script ends with exit status 1
//   already-installed  a driver is already at the target
//   unreadable-payload reading the payload fails with an error that quotes a path
//                      holding a byte that is not UTF-8
//
// Lines on standard output, fields separated by the unit separator 0x1f
// (shown here as blanks):
//   flow    FLOW                  a flow begins
//   asked   TITLE TEXT BUTTON...  what the flow passed to present()
//   shown   TEXT...               the texts the alert's window shows, top to bottom
//   button  TITLE X Y             one line per button, right to left as laid out, with its
//                                 centre in X root-window coordinates
//   ready                         the alert is on the screen and waits for a button
//   pressed TITLE                 that button went down (the mouse is held on it)
//   response N                    what present() returned
//   finished                      every flow has ended
// With --pictures, each alert is also drawn by GNUstep into DIR/FLOW-N.png (N
// counts the alerts of that run of FLOW from 1) before `ready`.

#import <AppKit/AppKit.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/administrator_script.h"
#include "app/alert.h"
#include "app/interactive_flow.h"

namespace {

// One protocol line: fields separated by the unit separator (0x1f), which no
// text of the installer holds; a field that holds one, or a line feed, could
// not be told apart from the line's structure, so it ends the run.
void report(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].find_first_of("\x1f\n") != std::string::npos) {
      std::fprintf(stderr, "alerts_driver: cannot report a text holding 0x1f or a line feed\n");
      std::_Exit(2);
    }
    if (i > 0) line += '\x1f';
    line += fields[i];
  }
  line += '\n';
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fflush(stdout) != 0) {
    std::_Exit(2);  // the test has gone away
  }
}

std::string utf8(NSString* text) { return text == nil ? std::string() : std::string([text UTF8String]); }

// A view of the alert's window and where it sits on the screen.
struct Widget {
  NSView* view;
  NSRect onScreen;
};

void collectWidgets(NSView* view, NSWindow* window, std::vector<Widget>& widgets) {
  for (NSView* subview in [view subviews]) {
    if ([subview isHiddenOrHasHiddenAncestor]) continue;
    const NSRect inWindow = [subview convertRect:[subview bounds] toView:nil];
    widgets.push_back({subview, [window convertRectToScreen:inWindow]});
    collectWidgets(subview, window, widgets);
  }
}

// What a person reads in a text widget; nothing for any other view.
std::optional<std::string> displayedText(NSView* view) {
  if ([view isKindOfClass:[NSTextField class]]) return utf8([(NSTextField*)view stringValue]);
  if ([view isKindOfClass:[NSTextView class]]) return utf8([(NSTextView*)view string]);
  return std::nullopt;
}

// A push button shows its title; the alert's icon is a button that shows only
// its image.
bool isTitledButton(NSView* view) {
  return [view isKindOfClass:[NSButton class]] && [(NSButton*)view imagePosition] != NSImageOnly;
}

struct Button {
  NSButton* view;
  std::string title;
  NSRect onScreen;
};

// What an alert's window shows: its texts top to bottom, its buttons right
// to left (screen coordinates grow upwards and to the right).
struct AlertWidgets {
  std::vector<std::string> texts;
  std::vector<Button> buttons;
};

AlertWidgets alertWidgets(NSWindow* window) {
  std::vector<Widget> widgets;
  collectWidgets([window contentView], window, widgets);
  std::vector<std::pair<NSRect, std::string>> texts;
  AlertWidgets found;
  for (const Widget& widget : widgets) {
    if (isTitledButton(widget.view)) {
      NSButton* button = (NSButton*)widget.view;
      found.buttons.push_back({button, utf8([button title]), widget.onScreen});
    } else if (const auto text = displayedText(widget.view); text && !text->empty()) {
      texts.emplace_back(widget.onScreen, *text);
    }
  }
  std::stable_sort(texts.begin(), texts.end(),
                   [](const auto& a, const auto& b) { return NSMaxY(a.first) > NSMaxY(b.first); });
  std::stable_sort(found.buttons.begin(), found.buttons.end(),
                   [](const Button& a, const Button& b) { return NSMaxX(a.onScreen) > NSMaxX(b.onScreen); });
  for (auto& text : texts) found.texts.push_back(std::move(text.second));
  return found;
}

// Writes the whole window, as GNUstep draws it, to `path` as PNG.
bool drawWindow(NSWindow* window, NSString* path) {
  NSView* frameView = [[window contentView] superview];
  if (frameView == nil) frameView = [window contentView];
  const NSRect bounds = [frameView bounds];
  NSBitmapImageRep* bitmap = [frameView bitmapImageRepForCachingDisplayInRect:bounds];
  if (bitmap == nil) return false;
  [frameView cacheDisplayInRect:bounds toBitmapImageRep:bitmap];
  NSData* png = [bitmap representationUsingType:NSPNGFileType properties:[NSDictionary dictionary]];
  return png != nil && [png writeToFile:path atomically:NO];
}

}  // namespace

// Looks at the modal window on each tick of a timer: once it is on the
// screen, reports what it shows; then reports the button that goes down.
@interface AlertReporter : NSObject {
 @private
  NSString* picturePath_;
  BOOL reported_;
  BOOL pressed_;
}
- (instancetype)initWithPicturePath:(NSString*)picturePath;
- (void)look:(NSTimer*)timer;
- (void)report:(const AlertWidgets&)widgets ofWindow:(NSWindow*)window;
@end

@implementation AlertReporter

- (instancetype)initWithPicturePath:(NSString*)picturePath {
  if ((self = [super init])) picturePath_ = [picturePath copy];
  return self;
}

- (void)dealloc {
  [picturePath_ release];
  [super dealloc];
}

- (void)look:(NSTimer*)timer {
  NSWindow* window = [NSApp modalWindow];
  if (window == nil || ![window isVisible]) return;
  const AlertWidgets widgets = alertWidgets(window);
  if (!reported_) {
    reported_ = YES;
    [self report:widgets ofWindow:window];
    return;
  }
  if (pressed_) return;
  for (const Button& button : widgets.buttons) {
    if ([[button.view cell] isHighlighted]) {
      pressed_ = YES;
      report({"pressed", button.title});
      break;
    }
  }
}

- (void)report:(const AlertWidgets&)widgets ofWindow:(NSWindow*)window {
  std::vector<std::string> shown{"shown"};
  shown.insert(shown.end(), widgets.texts.begin(), widgets.texts.end());
  report(shown);
  const CGFloat screenHeight = NSMaxY([[window screen] frame]);
  for (const Button& button : widgets.buttons) {
    const long x = std::lround(NSMidX(button.onScreen));
    const long y = std::lround(screenHeight - NSMidY(button.onScreen));  // X counts from the top
    report({"button", button.title, std::to_string(x), std::to_string(y)});
  }
  if (picturePath_ != nil && !drawWindow(window, picturePath_)) {
    std::fprintf(stderr, "alerts_driver: could not write %s\n", [picturePath_ UTF8String]);
    std::_Exit(2);
  }
  report({"ready"});
}

@end

namespace {

// The real alerts, each call reported before and after it.
class ReportingAlerts final : public corvel::Alerts {
 public:
  ReportingAlerts(corvel::Alerts& alerts, NSString* pictures) : alerts_(alerts), pictures_(pictures) {}

  void startFlow(const std::string& flow) {
    flow_ = flow;
    shownInFlow_ = 0;
  }

  long present(const std::string& title, const std::string& message,
               const std::vector<std::string>& buttons) override {
    std::vector<std::string> asked{"asked", title, message};
    asked.insert(asked.end(), buttons.begin(), buttons.end());
    report(asked);
    long response = 0;
    @autoreleasepool {
      ++shownInFlow_;
      NSString* picture = nil;
      if (pictures_ != nil) {
        const std::string name = flow_ + "-" + std::to_string(shownInFlow_) + ".png";
        picture = [pictures_ stringByAppendingPathComponent:[NSString stringWithUTF8String:name.c_str()]];
      }
      AlertReporter* reporter = [[[AlertReporter alloc] initWithPicturePath:picture] autorelease];
      NSTimer* timer = [NSTimer timerWithTimeInterval:0.05
                                               target:reporter
                                             selector:@selector(look:)
                                             userInfo:nil
                                              repeats:YES];
      // The timer ticks in the alert's own loop and in the button's while it
      // tracks the mouse, for as long as the alert is up. Each tick also wakes
      // GNUstep's loop, which now and then goes to sleep with an X event (the
      // release of the mouse button) already read but not yet handled: without
      // the ticks, one run in twenty (one in two while drawing pictures)
      // waited for it forever.
      [[NSRunLoop currentRunLoop] addTimer:timer forMode:NSModalPanelRunLoopMode];
      [[NSRunLoop currentRunLoop] addTimer:timer forMode:NSEventTrackingRunLoopMode];
      response = alerts_.present(title, message, buttons);
      [timer invalidate];
    }
    report({"response", std::to_string(response)});
    return response;
  }

 private:
  corvel::Alerts& alerts_;
  NSString* pictures_;
  std::string flow_;
  int shownInFlow_ = 0;
};

// The root script as the flow sees it through the administrator prompt.
class ScriptStandIn final : public corvel::AdministratorScripts {
 public:
  explicit ScriptStandIn(corvel::ScriptOutcome outcome) : outcome_(std::move(outcome)) {}
  std::optional<corvel::ScriptOutcome> execute(const std::string&) override { return outcome_; }

 private:
  corvel::ScriptOutcome outcome_;
};

struct Machine {
  bool driverInstalled = false;
  std::optional<std::string> payloadError;
  corvel::ScriptOutcome script;
};

std::optional<Machine> machineFor(const std::string& flow) {
  const corvel::ScriptOutcome installed{false, std::nullopt, "CORVEL_DRIVER_INSTALLED"};
  if (flow == "installs") return Machine{false, std::nullopt, installed};
  if (flow == "script-fails") return Machine{false, std::nullopt, {true, 1, std::nullopt}};
  if (flow == "already-installed") return Machine{true, std::nullopt, installed};
  if (flow == "unreadable-payload") {
    return Machine{false,
                   "cannot open \"/Applications/Corvel\xff.app/Contents/Resources/Orlana2ch.driver\": "
                   "Permission denied",
                   installed};
  }
  return std::nullopt;
}

corvel::InstallationSteps stepsOf(const Machine& machine) {
  return {
      [] {},
      [] {
        return std::string("/Applications/CorvelDriverInstaller.app/Contents/Resources/Orlana2ch.driver");
      },
      [machine](const std::string&) {
        if (machine.payloadError) throw std::runtime_error(*machine.payloadError);
      },
      [machine] { return machine.driverInstalled; },
      [](const std::string&) { return std::string("exit 0\n"); },
  };
}

}  // namespace

int main(int argc, char** argv) {
  @autoreleasepool {
    NSString* pictures = nil;
    std::vector<std::string> flows;
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--pictures") == 0 && i + 1 < argc) {
        pictures = [NSString stringWithUTF8String:argv[++i]];
      } else if (machineFor(argv[i])) {
        flows.emplace_back(argv[i]);
      } else {
        std::fprintf(stderr, "alerts_driver: unknown flow %s\n", argv[i]);
        return 2;
      }
    }
    [NSApplication sharedApplication];
    ReportingAlerts alerts(corvel::systemAlerts(), pictures);
    for (const std::string& flow : flows) {
      const Machine machine = *machineFor(flow);
      ScriptStandIn scripts(machine.script);
      report({"flow", flow});
      alerts.startFlow(flow);
      corvel::installInteractively(stepsOf(machine), alerts, scripts);
    }
    report({"finished"});
  }
  return 0;
}
