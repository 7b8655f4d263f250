// What an executable or a library file is, read from its headers without
// loading or running any of it: ELF, or Mach-O thin or universal with each
// slice's own header and load commands.

#ifndef BUNDLECHECK_LIBRARYFILE_H
#define BUNDLECHECK_LIBRARYFILE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bundlecheck {

// One architecture of a Mach-O file: a thin file's only one, or a slice of
// a universal file, as its own header says.
struct MachOSlice {
  uint32_t cpuType = 0;
  uint32_t cpuSubtype = 0;
  std::string arch;  // "arm64", "arm64e", "x86_64", "CPU type 18", ...
  uint32_t fileType = 0;
  bool isSigned = false;  // LC_CODE_SIGNATURE with its data in the slice
  // Where the slice lies in the file, and its signature data in the slice
  // (both 0 when unsigned).
  uint64_t offset = 0;
  uint64_t size = 0;
  uint64_t signatureOffset = 0;
  uint64_t signatureSize = 0;
  // Why the loader refuses this slice; empty when it reads well.
  std::string problem;

  bool isLibrary() const;  // a dynamic library or a loadable bundle
  bool isArm64Family() const;
  bool isArm64e() const;
  bool isX86_64h() const;
};

struct LibraryHeader {
  enum Kind { Unreadable, NotRegular, Unknown, Elf, MachO, Universal };
  Kind kind = Unknown;
  // Universal: the header with 64-bit offsets (0xcafebabf), which the loader
  // reads but the kernel starts no program from.
  bool universal64 = false;
  // ELF: a shared library the loader opens (not a program).
  bool sharedLibrary = false;
  uint32_t machine = 0;  // ELF e_machine
  // Mach-O: one slice for a thin file, each of a universal file.
  std::vector<MachOSlice> slices;
  // Why the loader refuses the whole file (a universal header whose slices
  // overlap, say); empty when it reads well.
  std::string problem;
  // For people: "ELF 64-bit shared library, x86_64", "Mach-O 64-bit
  // dynamic library, arm64, signed", ...
  std::string description;

  bool isMachO() const { return kind == MachO || kind == Universal; }
};

// Up to `size` bytes of the file at `offset`; fewer at its end.
using ReadAt = std::function<std::string(uint64_t offset, size_t size)>;

// Whether the first bytes of a file (8 are enough) begin a Mach-O file,
// thin or universal.
bool isMachOStart(const std::string& start);

// Reads the headers of a file of `fileSize` bytes. Never throws but for
// memory; hostile counts and sizes give a `problem`, never a long loop.
LibraryHeader parseLibraryHeader(uint64_t fileSize, const ReadAt& read);

// The same for a file. Never opens a pipe or a device.
LibraryHeader readLibraryHeader(const std::string& path);

// The machine in the names of Mach-O architectures: "x86_64", "arm64",
// "i386", "arm", or "machine N".
std::string elfMachineName(uint32_t machine);

// The launcher the check stands for when the bundle's own is neither ELF
// nor Mach-O, and the format of library this host's loader opens (the
// kind of launcher whose runtime `--load-runtime` loads). Defined once per
// platform.
const LibraryHeader& hostLauncher();
bool loadsOnThisHost(const LibraryHeader& launcher);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_LIBRARYFILE_H
