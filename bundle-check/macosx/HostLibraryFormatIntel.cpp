// macOS on Intel loads Mach-O dynamic libraries for x86_64, or universal
// files with an x86_64 slice: the check's x86_64 slice, which an Intel Mac
// runs, expects what the launcher's x86_64 slice will load there.

#include "LibraryFile.h"

namespace bundlecheck {

bool isForThisMachine(const LibraryHeader& header) {
  return header.sharedLibrary && header.hasX86_64Slice &&
         (header.kind == LibraryHeader::MachO ||
          header.kind == LibraryHeader::Universal);
}

const char* expectedLibraryFormat() {
  return "a Mach-O dynamic library for x86_64";
}

}  // namespace bundlecheck
