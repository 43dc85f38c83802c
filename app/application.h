#pragma once

namespace corvel {

// Makes the process an ordinary foreground application (a Dock icon, brought
// to the front) before its first alert. No event loop is started: the modal
// alerts run their own.
void becomeForegroundApplication();

}  // namespace corvel
