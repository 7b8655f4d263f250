// What a runtime library file is, read from its header without loading or
// running any of it.

#ifndef BUNDLECHECK_LIBRARYFILE_H
#define BUNDLECHECK_LIBRARYFILE_H

#include <cstdint>
#include <string>

namespace bundlecheck {

struct LibraryHeader {
  enum Kind { Unreadable, NotRegular, Unknown, Elf, MachO, Universal };
  Kind kind = Unknown;
  bool sharedLibrary = false;
  // ELF e_machine, or the Mach-O CPU type (of each slice of a universal
  // file, for matching; `machine` is then the first).
  uint32_t machine = 0;
  bool hasArm64Slice = false;
  bool hasX86_64Slice = false;
  // For people: "ELF shared library, x86-64", "Mach-O dynamic library,
  // arm64", ...
  std::string description;
};

// Never throws; never opens a pipe or a device.
LibraryHeader readLibraryHeader(const std::string& path);

// Whether a library with this header can be loaded by this build of the
// launcher, and what such a library is. Defined once per platform.
bool isForThisMachine(const LibraryHeader& header);
const char* expectedLibraryFormat();

}  // namespace bundlecheck

#endif  // BUNDLECHECK_LIBRARYFILE_H
