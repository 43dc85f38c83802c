// Outside macOS the alerts are the console's, and there is no application
// object to activate.

#include <csignal>

#include "app/application.h"

namespace corvel {

// The console stands in for the alerts' windows: a reader of them that has
// gone away closes an alert unanswered rather than ending the process.
void becomeForegroundApplication() { static_cast<void>(std::signal(SIGPIPE, SIG_IGN)); }

}  // namespace corvel
