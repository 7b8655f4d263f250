// Small Mach-O files made by hand (tests/fixtures/macho/README.md): a
// 64-bit header and, in a signed slice, one LC_CODE_SIGNATURE naming an
// ad-hoc signature, as a linker writes it, at its end. A slice is "ARCH KIND"
// or "ARCH KIND signed", with ARCH arm64, arm64e, x86_64 or x86_64h and KIND
// exe or dylib.

#ifndef MACHOFIXTURE_H
#define MACHOFIXTURE_H

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

std::string machO(const std::string& slice);
// The slices at 256, 512, ...; `wide` gives the 64-bit universal header.
std::string universal(const std::vector<std::string>& slices,
                      bool wide = false);
// Writes `value` as `bytes` bytes at `at`, big- or little-endian.
void poke(std::string& file, size_t at, uint64_t value, int bytes,
          bool bigEndian);

}  // namespace testsupport

#endif  // MACHOFIXTURE_H
