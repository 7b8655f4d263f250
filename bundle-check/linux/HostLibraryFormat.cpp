// The Linux development host loads ELF shared libraries; a launcher the
// check cannot read is taken to be one for the machine the check runs on.

#include "LibraryFile.h"

namespace bundlecheck {

const LibraryHeader& hostLauncher() {
  static const LibraryHeader self = readLibraryHeader("/proc/self/exe");
  return self;
}

bool loadsOnThisHost(const LibraryHeader& launcher) {
  return launcher.kind == LibraryHeader::Elf;
}

}  // namespace bundlecheck
