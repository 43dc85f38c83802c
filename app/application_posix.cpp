// Outside macOS the alerts are the console's, and there is no application
// object to activate.

#include "app/application.h"

namespace corvel {

void becomeForegroundApplication() {}

}  // namespace corvel
