// The embedded code signature of one Mach-O slice, read from the bytes that
// its LC_CODE_SIGNATURE names: the SuperBlob, the CodeDirectory the Mac
// checks (the SHA-256 one where there are several), the requirements, the
// entitlements and whether a CMS signature is there. Nothing of a
// certificate is read or verified: what can be checked without one is that
// the code pages and the sealed files still have the hashes signed.

#ifndef BUNDLECHECK_CODESIGNATURE_H
#define BUNDLECHECK_CODESIGNATURE_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "LibraryFile.h"

namespace bundlecheck {

// Special slots: the hashes of what the signature seals besides the code.
enum SpecialSlot {
  infoPlistSlot = 1,
  requirementsSlot = 2,
  resourcesSlot = 3,
  entitlementsSlot = 5,
  derEntitlementsSlot = 7,
};

struct CodeDirectory {
  uint32_t version = 0;
  uint32_t flags = 0;
  uint8_t hashType = 0;  // 1 SHA-1, 2 SHA-256, 3 SHA-256 in 20 bytes, ...
  uint8_t hashSize = 0;
  uint8_t pageSizeLog2 = 0;  // 0: one page over the whole code limit
  std::string identifier;
  std::string teamId;  // empty without one
  uint64_t codeLimit = 0;
  uint32_t specialSlotCount = 0;
  uint32_t codeSlotCount = 0;
  // Every hash, `hashSize` bytes each: special slot i at (count - i), the
  // code slots in order.
  std::string specialHashes;
  std::string codeHashes;
  // The whole CodeDirectory blob, whose hash is the code's cdhash.
  std::string blob;

  bool adHoc() const { return flags & 0x2; }
  bool hardenedRuntime() const { return flags & 0x10000; }
  bool linkerSigned() const { return flags & 0x20000; }
  // Whether the hashes are SHA-256 ones, the only kind checked here.
  bool sha256() const { return hashType == 2 || hashType == 3; }
  // The hash of special slot `slot`; empty when the directory has no such
  // slot or holds zeros there (nothing sealed).
  std::string specialSlot(int slot) const;
  std::string codeSlot(uint32_t index) const;
};

struct CodeSignature {
  // Why the signature cannot be read; empty when it reads well.
  std::string problem;
  // The CodeDirectory the Mac checks: the SHA-256 one when there are
  // several, else the only one; unset when none reads.
  std::optional<CodeDirectory> directory;
  int directoryCount = 0;
  // Each blob whole, its 8-byte header included (what its slot hashes);
  // empty when absent.
  std::string requirements;
  std::string entitlements;
  std::string derEntitlements;
  bool hasCmsBlob = false;
  bool cmsSigned = false;  // the CMS blob holds bytes, not an ad-hoc stub

  // The XML property list of the entitlements blob; empty when none.
  std::string_view entitlementsText() const;
};

// Reads a signature. Never throws but for memory; hostile offsets, counts
// and lengths give a `problem`, never a read outside `data`.
CodeSignature parseCodeSignature(std::string_view data);

// The signature of `slice` of a file read with `read`. Signatures larger
// than any real one are refused as a problem without being read.
CodeSignature readCodeSignature(const MachOSlice& slice, const ReadAt& read);

enum class Seal { Absent, Intact, Broken };
// Holds `bytes` against special slot `slot` of the directory.
Seal checkSlot(const CodeDirectory& directory, int slot,
               std::string_view bytes);

// Whether the code pages of `slice` still have the hashes of `directory`,
// at its own page size, over [0, codeLimit). `detail` says which page
// differs, or why the pages were not checked (then `checked` is false).
struct PageCheck {
  bool checked = false;
  bool intact = false;
  std::string detail;
};
PageCheck checkCodePages(const CodeDirectory& directory,
                         const MachOSlice& slice, const ReadAt& read);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_CODESIGNATURE_H
