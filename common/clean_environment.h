#pragma once

namespace corvel {

// The whole environment of this process and of every program it starts, one
// entry:
//   PATH=/usr/bin:/bin:/usr/sbin:/sbin
// the search path the install script sets for itself. Nothing the process
// inherited is kept. Whoever started the installer chose its environment, and
// on a Mac a user's launch environment reaches a double-clicked application;
// the administrator prompt may pass it on to the install script. A shell, the
// dynamic loader, Perl (shasum is a Perl program) and many tools read
// variables as code, options or search paths, so none may reach root. The
// installer reads no variable for its own behaviour, and the system's
// frameworks find what they need (the user, the home folder, the language)
// without the environment.
//
// A null-terminated array for posix_spawn and execve. It is not the process's
// own `environ`, so nothing that edits that one can change what a child gets.
char* const* cleanEnvironment();

// Makes the clean environment the process's own in place of the inherited
// one. Call it first in `main`, before any thread, alert or child exists. It
// only swaps a pointer and frees nothing, so even a reader that slipped in
// earlier sees one whole environment or the other.
void replaceEnvironment();

}  // namespace corvel
