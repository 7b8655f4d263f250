// macOS loads Mach-O dynamic libraries; a launcher the check cannot read is
// taken to be the product's own for the Mac the check runs on: a signed
// arm64 executable, or an x86_64 one on Intel.

#include "LibraryFile.h"

namespace bundlecheck {

const LibraryHeader& hostLauncher() {
  static const LibraryHeader launcher = [] {
    LibraryHeader header;
    header.kind = LibraryHeader::MachO;
    MachOSlice slice;
#if defined(__x86_64__)
    slice.cpuType = 0x01000007;
    slice.arch = "x86_64";
    slice.isSigned = false;
    header.description = "Mach-O 64-bit executable, x86_64";
#else
    slice.cpuType = 0x0100000c;
    slice.arch = "arm64";
    slice.isSigned = true;
    header.description = "Mach-O 64-bit executable, arm64, signed";
#endif
    slice.fileType = 2;
    header.slices.push_back(slice);
    return header;
  }();
  return launcher;
}

bool loadsOnThisHost(const LibraryHeader& launcher) {
  return launcher.isMachO();
}

}  // namespace bundlecheck
