#include "helpers/MachOFixture.h"

#include <algorithm>

#include "helpers/FixtureSigner.h"

namespace testsupport {

void poke(std::string& file, size_t at, uint64_t value, int bytes,
          bool bigEndian) {
  file.resize(std::max(file.size(), at + bytes));
  for (int i = 0; i < bytes; ++i) {
    file[at + i] =
        static_cast<char>(value >> 8 * (bigEndian ? bytes - 1 - i : i));
  }
}

std::string machO(const std::string& slice) {
  const bool arm = slice.compare(0, 5, "arm64") == 0;
  const bool isSigned =
      slice.size() > 7 && slice.compare(slice.size() - 7, 7, " signed") == 0;
  std::string file;
  poke(file, 0, 0xfeedfacf, 4, false);
  poke(file, 4, arm ? 0x0100000c : 0x01000007, 4, false);
  poke(file, 8,
       slice.compare(0, 7, "arm64e ") == 0    ? 0x80000002
       : arm                                  ? 0
       : slice.compare(0, 8, "x86_64h ") == 0 ? 8
                                              : 3,
       4, false);
  poke(file, 12, slice.find(" dylib") != std::string::npos ? 6 : 2, 4, false);
  file.resize(32);
  if (isSigned) {
    // ncmds 1, sizeofcmds 16; LC_CODE_SIGNATURE, 16 bytes, its data at 48.
    const uint32_t fields[] = {1, 16, 0, 0, 0x1d, 16, 48, 16};
    for (int i = 0; i != 8; ++i) {
      poke(file, 16 + 4 * i, fields[i], 4, false);
    }
    file.resize(64);
    // A linker's ad-hoc signature of the 48 bytes before it.
    SignOptions options;
    options.identifier = "fixture";
    options.linkerStyle = true;
    file = resign(file, options);
  }
  return file;
}

std::string universal(const std::vector<std::string>& slices, bool wide) {
  std::string file;
  poke(file, 0, wide ? 0xcafebabf : 0xcafebabe, 4, true);
  poke(file, 4, slices.size(), 4, true);
  for (size_t i = 0; i != slices.size(); ++i) {
    const std::string slice = machO(slices[i]);
    const size_t at = 8 + (wide ? 32 : 20) * i;
    poke(file, at + 8, 256 * (i + 1), wide ? 8 : 4, true);
    poke(file, at + (wide ? 16 : 12), slice.size(), wide ? 8 : 4, true);
    // The slice's CPU type and subtype, big-endian here.
    for (int byte = 0; byte != 8; ++byte) {
      file[at + byte] = slice[4 + (byte & ~3) + 3 - (byte & 3)];
    }
    file.resize(256 * (i + 1));
    file += slice;
  }
  return file;
}

}  // namespace testsupport
