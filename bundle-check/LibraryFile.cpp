#include "LibraryFile.h"

#include <sys/stat.h>

#include <fstream>

namespace bundlecheck {

namespace {

// The unsigned field of `bytes` bytes at `at`, in either byte order.
uint64_t field(const unsigned char* p, size_t at, int bytes, bool bigEndian) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value = (value << 8) | p[at + (bigEndian ? i : bytes - 1 - i)];
  }
  return value;
}

const uint32_t cpuArm64 = 0x0100000c;
const uint32_t cpuX86_64 = 0x01000007;

std::string elfMachineName(uint32_t machine) {
  switch (machine) {
    case 3:
      return "i386";
    case 40:
      return "arm";
    case 62:
      return "x86-64";
    case 183:
      return "aarch64";
    default:
      return "machine " + std::to_string(machine);
  }
}

std::string cpuName(uint32_t cpu) {
  switch (cpu) {
    case cpuArm64:
      return "arm64";
    case cpuX86_64:
      return "x86_64";
    default:
      return "CPU type " + std::to_string(cpu);
  }
}

void readElf(const unsigned char* h, size_t size, LibraryHeader& header) {
  header.kind = LibraryHeader::Elf;
  if (size < 20 || (h[5] != 1 && h[5] != 2)) {
    header.description = "truncated ELF file";
    return;
  }
  const bool bigEndian = h[5] == 2;
  auto read = [&](size_t at, int bytes) {
    return field(h, at, bytes, bigEndian);
  };
  const uint64_t type = read(16, 2);
  header.machine = static_cast<uint32_t>(read(18, 2));
  // A position-independent executable has the shared library's file type
  // but names a program interpreter; the loader refuses to open it.
  const bool is64 = h[4] == 2;
  bool executable = false;
  if (size >= 64 && type == 3) {
    const uint64_t tableAt = is64 ? read(32, 8) : read(28, 4);
    const uint64_t entrySize = read(is64 ? 54 : 42, 2);
    const uint64_t count = read(is64 ? 56 : 44, 2);
    for (uint64_t i = 0; i < count && entrySize >= 4; ++i) {
      const uint64_t at = tableAt + i * entrySize;
      if (tableAt > size || at + 4 > size) {
        break;
      }
      executable = executable || read(at, 4) == 3;  // PT_INTERP
    }
  }
  header.sharedLibrary = type == 3 && !executable;
  header.description = std::string(is64 ? "ELF 64-bit " : "ELF 32-bit ") +
                       (header.sharedLibrary ? "shared library"
                        : executable         ? "executable, not a library"
                                             : "file that is no library") +
                       ", " + elfMachineName(header.machine);
}

void readMachO(const unsigned char* h, size_t size, LibraryHeader& header) {
  header.kind = LibraryHeader::MachO;
  if (size < 16) {
    header.description = "truncated Mach-O file";
    return;
  }
  header.machine = static_cast<uint32_t>(field(h, 4, 4, false));
  header.hasArm64Slice = header.machine == cpuArm64;
  header.hasX86_64Slice = header.machine == cpuX86_64;
  // MH_DYLIB and MH_BUNDLE can both be opened by the loader.
  const uint64_t type = field(h, 12, 4, false);
  header.sharedLibrary = type == 6 || type == 8;
  header.description =
      std::string(h[0] == 0xcf ? "Mach-O 64-bit " : "Mach-O 32-bit ") +
      (header.sharedLibrary ? "dynamic library" : "file that is no library") +
      ", " + cpuName(header.machine);
}

void readUniversal(const unsigned char* h, size_t size, LibraryHeader& header) {
  header.kind = LibraryHeader::Universal;
  const uint64_t count = field(h, 4, 4, true);
  std::string cpus;
  for (uint64_t i = 0; i < count && 8 + 20 * (i + 1) <= size; ++i) {
    const uint32_t cpu = static_cast<uint32_t>(field(h, 8 + 20 * i, 4, true));
    if (i == 0) {
      header.machine = cpu;
    }
    header.hasArm64Slice = header.hasArm64Slice || cpu == cpuArm64;
    header.hasX86_64Slice = header.hasX86_64Slice || cpu == cpuX86_64;
    cpus += (i ? ", " : "") + cpuName(cpu);
  }
  // The slices' own headers are not read: a universal file is taken to be
  // what its name says.
  header.sharedLibrary = true;
  header.description = "universal Mach-O file (" + cpus + ")";
}

}  // namespace

LibraryHeader readLibraryHeader(const std::string& path) {
  LibraryHeader header;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    header.kind = LibraryHeader::Unreadable;
    header.description = "not found";
    return header;
  }
  if (!S_ISREG(st.st_mode)) {
    header.kind = LibraryHeader::NotRegular;
    header.description = "not a regular file";
    return header;
  }
  std::ifstream in(path.c_str(), std::ios::binary);
  unsigned char h[4096] = {0};
  in.read(reinterpret_cast<char*>(h), sizeof h);
  const size_t size = static_cast<size_t>(in.gcount());
  if (!in.is_open() || in.bad()) {
    header.kind = LibraryHeader::Unreadable;
    header.description = "unreadable";
  } else if (size >= 4 && h[0] == 0x7f && h[1] == 'E' && h[2] == 'L' &&
             h[3] == 'F') {
    readElf(h, size, header);
  } else if (size >= 4 && (h[0] == 0xcf || h[0] == 0xce) && h[1] == 0xfa &&
             h[2] == 0xed && h[3] == 0xfe) {
    readMachO(h, size, header);
  } else if (size >= 8 && field(h, 0, 4, true) == 0xcafebabe &&
             field(h, 4, 4, true) < 32) {
    readUniversal(h, size, header);
  } else {
    header.description = "neither an ELF nor a Mach-O file";
  }
  return header;
}

}  // namespace bundlecheck
