#include <string>
#include <vector>

#include "app/installer.h"
#include "common/clean_environment.h"

int main(int argc, char** argv) {
  // First of all, while no thread, alert or child exists: nothing inherited
  // through the environment may reach the programs this one starts, root's
  // script above all.
  corvel::replaceEnvironment();
  corvel::Installer::main(std::vector<std::string>(argv, argv + argc));
  return 0;
}
