// Prints the path that the launcher's own-path query finds for this
// executable, so that tests can start it the ways a user would (by an
// absolute or relative path, through links) and compare.

#include <exception>
#include <iostream>

#include "SysInfo.h"

int main() {
  try {
    std::cout << SysInfo::getProcessModulePath() << std::endl;
    return 0;
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
    return 1;
  }
}
