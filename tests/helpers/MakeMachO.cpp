// make_macho OUT [--universal | --universal64] SLICE...
// Writes a hand-made Mach-O file (helpers/MachOFixture.h): thin with one
// SLICE, universal with several; each SLICE is one argument, such as
// "arm64 dylib signed".

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "helpers/MachOFixture.h"

int main(int argc, char* argv[]) {
  std::vector<std::string> slices(argv + 1, argv + argc);
  if (slices.size() < 2) {
    std::cerr << "usage: make_macho OUT [--universal | --universal64] "
                 "SLICE...\n";
    return 64;
  }
  const std::string out = slices[0];
  slices.erase(slices.begin());
  const bool fat = slices[0] == "--universal" || slices[0] == "--universal64";
  const bool wide = slices[0] == "--universal64";
  if (fat) {
    slices.erase(slices.begin());
  }
  try {
    const std::string file = fat || slices.size() > 1
                                 ? testsupport::universal(slices, wide)
                                 : testsupport::machO(slices[0]);
    std::ofstream(out, std::ios::binary) << file;
  } catch (const std::exception& e) {
    std::cerr << "make_macho: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
