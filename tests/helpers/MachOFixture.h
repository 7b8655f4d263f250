// Small Mach-O files made by hand, for the tests of the bundle check's
// library reader: a header, at most one load command and, in a signed
// slice, LC_CODE_SIGNATURE naming 16 bytes of (empty) signature data at the
// slice's end. Nothing in them can run; only their headers matter.
//
// A slice is described by words: its architecture ("arm64", "arm64e",
// "x86_64"), its kind ("exe" or "dylib") and optionally "signed", as in
// "arm64 dylib signed". tests/fixtures/macho/README.md says how to make
// them as files and how to edit their headers for hostile cases.

#ifndef MACHOFIXTURE_H
#define MACHOFIXTURE_H

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A thin 64-bit Mach-O file.
std::string machO(const std::string& slice);

// A universal file of these slices, each at a multiple of 256 bytes; with
// `wide`, the 64-bit universal header (0xcafebabf) instead of the 32-bit one.
std::string universal(const std::vector<std::string>& slices,
                      bool wide = false);

// Writes `value` as `bytes` bytes at `at`: big-endian, as universal headers
// are, or little-endian, as Mach-O headers on these machines are.
void poke(std::string& file, size_t at, uint64_t value, int bytes,
          bool bigEndian);

}  // namespace testsupport

#endif  // MACHOFIXTURE_H
