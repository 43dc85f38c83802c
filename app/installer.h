#pragma once

#include <string>
#include <vector>

namespace corvel {

// The application. `main` reads the whole argument vector (the program path
// included) once and chooses the mode:
//   --validate-only          the unprivileged checks; prints the payload line
//                            and whether a driver is already installed
//   --print-install-script   the same checks; prints the root install script
//                            (wins when both are given)
//   --print-uninstall-script the root script that removes the installed driver,
//                            with no check first (either option above wins)
//   --check-installed        the platform check, then one line saying whether
//                            the installed driver is exactly the one this
//                            build carries (any option above wins)
//   anything else            the interactive installation, in alerts
// An option counts only when some argument equals it exactly. Returning ends
// the process with status 0; a failure of the non-interactive mode prints its
// message on standard error and exits with status 1 instead.
struct Installer {
  Installer() = delete;
  static void main(const std::vector<std::string>& arguments);
};

}  // namespace corvel
