// Unsigned fields of the binary formats the check reads (ELF, Mach-O, code
// signatures), taken from bytes already read.

#ifndef BUNDLECHECK_BYTEFIELDS_H
#define BUNDLECHECK_BYTEFIELDS_H

#include <cstdint>
#include <string_view>

namespace bundlecheck {

// The field of `bytes` bytes at `at` in `p`, in either byte order; 0 when it
// passes the end of `p`.
inline uint64_t fieldAt(std::string_view p, uint64_t at, int bytes,
                        bool bigEndian) {
  if (at > p.size() || p.size() - at < static_cast<uint64_t>(bytes)) {
    return 0;
  }
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value = (value << 8) |
            static_cast<unsigned char>(p[at + (bigEndian ? i : bytes - 1 - i)]);
  }
  return value;
}

}  // namespace bundlecheck

#endif  // BUNDLECHECK_BYTEFIELDS_H
