// macOS on 64-bit Arm loads Mach-O dynamic libraries for arm64, or
// universal files with an arm64 slice.

#include "LibraryFile.h"

namespace bundlecheck {

bool isForThisMachine(const LibraryHeader& header) {
  return header.sharedLibrary && header.hasArm64Slice &&
         (header.kind == LibraryHeader::MachO ||
          header.kind == LibraryHeader::Universal);
}

const char* expectedLibraryFormat() {
  return "a Mach-O dynamic library for arm64";
}

}  // namespace bundlecheck
