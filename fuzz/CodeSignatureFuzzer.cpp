// The bundle check's code-signature reader on arbitrary bytes, taken as
// the signature data of a slice that is the same bytes: whatever offsets,
// counts and lengths it names, it reads only what is there, and checking
// the pages and slots of what it read never fails.

#include <algorithm>
#include <cstdint>
#include <string>

#include "CodeSignature.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const bundlecheck::CodeSignature signature =
      bundlecheck::parseCodeSignature(bytes);
  if (!signature.problem.empty()) {
    return 0;
  }
  FUZZ_CHECK(signature.directory && signature.directoryCount >= 1,
             visible(bytes));
  const bundlecheck::CodeDirectory& cd = *signature.directory;
  FUZZ_CHECK(
      cd.specialHashes.size() == uint64_t(cd.specialSlotCount) * cd.hashSize &&
          cd.codeHashes.size() == uint64_t(cd.codeSlotCount) * cd.hashSize &&
          cd.blob.size() <= bytes.size() &&
          cd.identifier.find('\0') == std::string::npos,
      visible(bytes));
  FUZZ_CHECK(signature.entitlementsText().size() <= bytes.size(),
             visible(bytes));
  for (int slot = 0; slot != 9; ++slot) {
    bundlecheck::checkSlot(cd, slot, bytes);
  }
  bundlecheck::MachOSlice slice;
  slice.size = bytes.size();
  uint64_t read = 0;
  const bundlecheck::PageCheck pages =
      bundlecheck::checkCodePages(cd, slice, [&](uint64_t at, size_t n) {
        read += n;
        return at >= bytes.size() ? std::string() : bytes.substr(at, n);
      });
  // Only the code limit, which lies inside the slice, is read.
  FUZZ_CHECK(read <= bytes.size(), std::to_string(read));
  FUZZ_CHECK(pages.intact || !pages.detail.empty(), visible(bytes));
  return 0;
}
