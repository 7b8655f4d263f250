#include "helpers/MachOFixture.h"

#include <sstream>
#include <stdexcept>

namespace testsupport {

void poke(std::string& file, size_t at, uint64_t value, int bytes,
          bool bigEndian) {
  if (file.size() < at + bytes) {
    file.resize(at + bytes);
  }
  for (int i = 0; i < bytes; ++i) {
    const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
    file[at + i] = static_cast<char>((value >> shift) & 0xff);
  }
}

namespace {

struct Arch {
  uint32_t cpu, subtype;
};

Arch archOf(const std::string& name) {
  if (name == "arm64") {
    return {0x0100000c, 0};
  }
  if (name == "arm64e") {
    return {0x0100000c, 0x80000002};
  }
  if (name == "x86_64") {
    return {0x01000007, 3};
  }
  throw std::invalid_argument("no such architecture: " + name);
}

}  // namespace

std::string machO(const std::string& slice) {
  std::istringstream words(slice);
  std::string arch, kind, word;
  words >> arch >> kind;
  const bool isSigned = (words >> word) && word == "signed";
  const Arch a = archOf(arch);
  std::string file;
  poke(file, 0, 0xfeedfacf, 4, false);
  poke(file, 4, a.cpu, 4, false);
  poke(file, 8, a.subtype, 4, false);
  poke(file, 12, kind == "dylib" ? 6 : 2, 4, false);
  poke(file, 16, isSigned ? 1 : 0, 4, false);   // ncmds
  poke(file, 20, isSigned ? 16 : 0, 4, false);  // sizeofcmds
  poke(file, 28, 0, 4, false);
  if (isSigned) {
    poke(file, 32, 0x1d, 4, false);  // LC_CODE_SIGNATURE
    poke(file, 36, 16, 4, false);
    poke(file, 40, 48, 4, false);  // data offset
    poke(file, 44, 16, 4, false);  // data size
    file.resize(64);
  }
  return file;
}

std::string universal(const std::vector<std::string>& slices, bool wide) {
  const size_t entry = wide ? 32 : 20;
  std::string file;
  poke(file, 0, wide ? 0xcafebabf : 0xcafebabe, 4, true);
  poke(file, 4, slices.size(), 4, true);
  for (size_t i = 0; i != slices.size(); ++i) {
    const std::string slice = machO(slices[i]);
    const size_t offset = 256 * (i + 1);
    const size_t at = 8 + entry * i;
    // The slice's own CPU type and subtype, again in the table.
    for (size_t field = 4; field != 12; field += 4) {
      uint32_t value = 0;
      for (int byte = 3; byte >= 0; --byte) {
        value = value << 8 | static_cast<uint8_t>(slice[field + byte]);
      }
      poke(file, at + field - 4, value, 4, true);
    }
    poke(file, at + 8, offset, wide ? 8 : 4, true);
    poke(file, at + (wide ? 16 : 12), slice.size(), wide ? 8 : 4, true);
    poke(file, at + (wide ? 24 : 16), 8, 4, true);  // align 2^8
    file.resize(offset);
    file += slice;
  }
  return file;
}

}  // namespace testsupport
