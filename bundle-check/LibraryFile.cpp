#include "LibraryFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <string>

#include "ByteFields.h"
#include "FileReader.h"

namespace bundlecheck {

namespace {

uint64_t field(const std::string& p, uint64_t at, int bytes, bool bigEndian) {
  return fieldAt(p, at, bytes, bigEndian);
}

const uint32_t cpuArm64 = 0x0100000c;
const uint32_t cpuX86_64 = 0x01000007;
const uint32_t subtypeMask = 0x00ffffff;  // without the capability bits
const uint32_t subtypeArm64e = 2;
const uint32_t subtypeX86_64h = 8;
const uint32_t fileExecute = 2, fileDylib = 6, fileBundle = 8;
const uint32_t lcCodeSignature = 0x1d;
// Far more than any real file has; bounds what a hostile header makes the
// check read or loop over.
const uint64_t maxSlices = 64;
const uint64_t maxLoadCommandBytes = 16 << 20;

std::string cpuName(uint32_t cpu, uint32_t subtype) {
  switch (cpu) {
    case cpuArm64:
      return (subtype & subtypeMask) == subtypeArm64e ? "arm64e" : "arm64";
    case cpuX86_64:
      return (subtype & subtypeMask) == subtypeX86_64h ? "x86_64h" : "x86_64";
    case 7:
      return "i386";
    case 12:
      return "arm";
    default:
      return "CPU type " + std::to_string(cpu);
  }
}

std::string fileTypeName(uint32_t type) {
  switch (type) {
    case fileExecute:
      return "executable";
    case fileDylib:
      return "dynamic library";
    case fileBundle:
      return "loadable bundle";
    default:
      return "file type " + std::to_string(type);
  }
}

void readElf(const std::string& h, LibraryHeader& header) {
  header.kind = LibraryHeader::Elf;
  const size_t size = h.size();
  if (size < 20 || (h[5] != 1 && h[5] != 2)) {
    header.description = "truncated ELF file";
    return;
  }
  const bool bigEndian = h[5] == 2;
  auto read = [&](uint64_t at, int bytes) {
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
                       (header.sharedLibrary      ? "shared library"
                        : executable || type == 2 ? "executable, not a library"
                                                  : "file that is no library") +
                       ", " + elfMachineName(header.machine);
}

// The slice of `size` bytes at `offset`: its header and load commands.
MachOSlice readSlice(const ReadAt& readAt, uint64_t offset, uint64_t size) {
  MachOSlice slice;
  slice.offset = offset;
  slice.size = size;
  const std::string h = readAt(offset, 32);
  const uint64_t magic = field(h, 0, 4, false);
  if (magic != 0xfeedfacf && magic != 0xfeedface) {
    slice.problem = "no Mach-O header";
    return slice;
  }
  const uint64_t headerSize = magic == 0xfeedfacf ? 32 : 28;
  if (h.size() < headerSize || size < headerSize) {
    slice.problem = "truncated Mach-O header";
    return slice;
  }
  slice.cpuType = static_cast<uint32_t>(field(h, 4, 4, false));
  slice.cpuSubtype = static_cast<uint32_t>(field(h, 8, 4, false));
  slice.arch = cpuName(slice.cpuType, slice.cpuSubtype);
  slice.fileType = static_cast<uint32_t>(field(h, 12, 4, false));
  const uint64_t count = field(h, 16, 4, false);
  const uint64_t bytes = field(h, 20, 4, false);
  if (bytes > size - headerSize || bytes > maxLoadCommandBytes) {
    slice.problem = "load commands of " + std::to_string(bytes) +
                    " bytes do not fit in the file";
    return slice;
  }
  if (count > bytes / 8) {
    slice.problem = std::to_string(count) + " load commands cannot fit in " +
                    std::to_string(bytes) + " bytes";
    return slice;
  }
  const std::string commands = readAt(offset + headerSize, bytes);
  if (commands.size() != bytes) {
    slice.problem = "truncated load commands";
    return slice;
  }
  uint64_t at = 0;
  for (uint64_t i = 0; i != count; ++i) {
    const uint64_t command = field(commands, at, 4, false);
    const uint64_t commandSize = field(commands, at + 4, 4, false);
    if (commandSize < 8 || commandSize > bytes - at) {
      slice.problem = "load command " + std::to_string(i + 1) + " has size " +
                      std::to_string(commandSize);
      return slice;
    }
    if (command == lcCodeSignature && commandSize >= 16) {
      const uint64_t dataAt = field(commands, at + 8, 4, false);
      const uint64_t dataSize = field(commands, at + 12, 4, false);
      if (dataSize == 0 || dataAt > size || dataSize > size - dataAt) {
        slice.problem = "its code signature lies outside the file";
        return slice;
      }
      slice.isSigned = true;
      slice.signatureOffset = dataAt;
      slice.signatureSize = dataSize;
    }
    at += commandSize;
  }
  return slice;
}

std::string sliceText(const MachOSlice& slice) {
  return slice.arch + " " + fileTypeName(slice.fileType) +
         (slice.isSigned ? ", signed" : ", not signed") +
         (slice.problem.empty() ? "" : ", malformed: " + slice.problem);
}

void readUniversal(const ReadAt& readAt, uint64_t fileSize, bool wide,
                   uint64_t count, LibraryHeader& header) {
  header.kind = LibraryHeader::Universal;
  header.universal64 = wide;
  const uint64_t entrySize = wide ? 32 : 20;
  const std::string kind =
      wide ? "universal Mach-O file (64-bit header)" : "universal Mach-O file";
  if (count == 0 || count > maxSlices) {
    header.problem =
        "its universal header names " + std::to_string(count) + " slices";
  } else if (8 + count * entrySize > fileSize) {
    header.problem = "its universal header names " + std::to_string(count) +
                     " slices, but the file ends inside the table";
  }
  if (!header.problem.empty()) {
    header.description = kind + ", malformed: " + header.problem;
    return;
  }
  const std::string table = readAt(8, count * entrySize);
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  for (uint64_t i = 0; i != count; ++i) {
    const uint64_t at = i * entrySize;
    const uint32_t cpu = static_cast<uint32_t>(field(table, at, 4, true));
    const uint32_t subtype =
        static_cast<uint32_t>(field(table, at + 4, 4, true));
    const uint64_t offset = field(table, at + 8, wide ? 8 : 4, true);
    const uint64_t size =
        field(table, at + (wide ? 16 : 12), wide ? 8 : 4, true);
    const std::string name =
        "slice " + std::to_string(i + 1) + " (" + cpuName(cpu, subtype) + ")";
    if (offset < 8 + count * entrySize || offset > fileSize ||
        size > fileSize - offset) {
      header.problem = name + " lies outside the file";
    }
    for (size_t j = 0; j != ranges.size() && header.problem.empty(); ++j) {
      if (offset < ranges[j].first + ranges[j].second &&
          ranges[j].first < offset + size) {
        header.problem = name + " overlaps slice " + std::to_string(j + 1);
      } else if (header.slices[j].cpuType == cpu &&
                 (header.slices[j].cpuSubtype & subtypeMask) ==
                     (subtype & subtypeMask)) {
        header.problem = name + " repeats slice " + std::to_string(j + 1);
      }
    }
    // The loader refuses the whole file; the slices before are listed.
    if (!header.problem.empty()) {
      break;
    }
    MachOSlice slice = readSlice(readAt, offset, size);
    if (slice.arch.empty()) {
      // The table's architecture, where the slice's own header says none.
      slice.cpuType = cpu;
      slice.cpuSubtype = subtype;
      slice.arch = cpuName(cpu, subtype);
    } else if (slice.problem.empty() &&
               (slice.cpuType != cpu || slice.cpuSubtype != subtype)) {
      slice.problem = "its header is for " + slice.arch +
                      ", the universal header says " + cpuName(cpu, subtype);
    }
    ranges.emplace_back(offset, size);
    header.slices.push_back(slice);
  }
  header.description = kind + ": ";
  for (size_t i = 0; i != header.slices.size(); ++i) {
    header.description += (i ? "; " : "") + sliceText(header.slices[i]);
  }
  if (!header.problem.empty()) {
    header.description += "; malformed: " + header.problem;
  }
}

}  // namespace

bool MachOSlice::isLibrary() const {
  return fileType == fileDylib || fileType == fileBundle;
}

bool MachOSlice::isArm64Family() const { return cpuType == cpuArm64; }

bool MachOSlice::isArm64e() const {
  return isArm64Family() && (cpuSubtype & subtypeMask) == subtypeArm64e;
}

bool MachOSlice::isX86_64h() const {
  return cpuType == cpuX86_64 && (cpuSubtype & subtypeMask) == subtypeX86_64h;
}

std::string elfMachineName(uint32_t machine) {
  switch (machine) {
    case 3:
      return "i386";
    case 40:
      return "arm";
    case 62:
      return "x86_64";
    case 183:
      return "arm64";
    default:
      return "machine " + std::to_string(machine);
  }
}

bool isMachOStart(const std::string& start) {
  const uint64_t magic = field(start, 0, 4, true);
  const uint64_t count = field(start, 4, 4, true);
  // A compiled class file of a virtual machine shares the 32-bit universal
  // magic; its version, where the slice count would be, is 45 or more.
  return start.size() >= 8 &&
         (magic == 0xcffaedfe || magic == 0xcefaedfe || magic == 0xcafebabf ||
          (magic == 0xcafebabe && count < 45));
}

LibraryHeader parseLibraryHeader(uint64_t fileSize, const ReadAt& read) {
  LibraryHeader header;
  const std::string h = read(0, 4096);
  const uint64_t magic = field(h, 0, 4, true);
  const uint64_t count = field(h, 4, 4, true);
  if (h.size() >= 4 && magic == 0x7f454c46) {
    readElf(h, header);
  } else if (h.size() >= 4 && (magic == 0xcffaedfe || magic == 0xcefaedfe)) {
    header.kind = LibraryHeader::MachO;
    const MachOSlice slice = readSlice(read, 0, fileSize);
    if (slice.arch.empty()) {
      // Not even the architecture can be read.
      header.problem = slice.problem;
      header.description = "Mach-O file, malformed: " + slice.problem;
    } else {
      header.slices.push_back(slice);
      header.description = std::string(magic == 0xcffaedfe ? "Mach-O 64-bit "
                                                           : "Mach-O 32-bit ") +
                           sliceText(slice);
    }
  } else if (isMachOStart(h)) {
    readUniversal(read, fileSize, magic == 0xcafebabf, count, header);
  } else {
    header.description = "neither an ELF nor a Mach-O file";
  }
  return header;
}

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
  FileReader file;
  if (!file.open(path)) {
    header.kind = LibraryHeader::Unreadable;
    header.description = "unreadable";
    return header;
  }
  const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  const ReadAt read = [&](uint64_t offset, size_t size) {
    return file.readAt(offset, size);
  };
  header = parseLibraryHeader(fileSize, read);
  if (file.readError() != 0) {
    header = LibraryHeader();
    header.kind = LibraryHeader::Unreadable;
    header.description = "unreadable";
  }
  return header;
}

}  // namespace bundlecheck
