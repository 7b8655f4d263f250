// macOS loads Mach-O dynamic libraries; a launcher the check cannot read is
// taken to be the product's own, a signed arm64 executable.

#include "LibraryFile.h"

namespace bundlecheck {

const LibraryHeader& hostLauncher() {
  static const LibraryHeader launcher = [] {
    LibraryHeader header;
    header.kind = LibraryHeader::MachO;
    MachOSlice slice;
    slice.cpuType = 0x0100000c;
    slice.arch = "arm64";
    slice.fileType = 2;
    slice.isSigned = true;
    header.slices.push_back(slice);
    header.description = "Mach-O 64-bit executable, arm64, signed";
    return header;
  }();
  return launcher;
}

bool loadsOnThisHost(const LibraryHeader& launcher) {
  return launcher.isMachO();
}

}  // namespace bundlecheck
