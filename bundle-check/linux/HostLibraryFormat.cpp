// The Linux development host loads ELF shared libraries built for the
// machine the check itself runs on.

#include "LibraryFile.h"

namespace bundlecheck {

bool isForThisMachine(const LibraryHeader& header) {
  static const LibraryHeader self = readLibraryHeader("/proc/self/exe");
  return header.kind == LibraryHeader::Elf && header.sharedLibrary &&
         header.machine == self.machine;
}

const char* expectedLibraryFormat() {
  return "an ELF shared library for this machine";
}

}  // namespace bundlecheck
