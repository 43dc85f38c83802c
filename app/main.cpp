#include <string>
#include <vector>

#include "app/installer.h"

int main(int argc, char** argv) {
  corvel::Installer::main(std::vector<std::string>(argv, argv + argc));
  return 0;
}
