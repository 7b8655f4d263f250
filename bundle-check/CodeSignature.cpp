#include "CodeSignature.h"

#include <algorithm>

#include "ByteFields.h"
#include "Sha256.h"

namespace bundlecheck {

namespace {

// Every structure of a signature is big-endian.
uint64_t be(std::string_view p, uint64_t at, int bytes) {
  return fieldAt(p, at, bytes, true);
}

const uint32_t superBlobMagic = 0xfade0cc0;
const uint32_t codeDirectoryMagic = 0xfade0c02;
const uint32_t requirementsMagic = 0xfade0c01;
const uint32_t entitlementsMagic = 0xfade7171;
const uint32_t derEntitlementsMagic = 0xfade7172;
const uint32_t cmsMagic = 0xfade0b01;
const uint32_t codeDirectorySlot = 0, alternateFirst = 0x1000,
               alternateLast = 0x1004, cmsSlot = 0x10000;
// A signature holds a few blobs; a real one of a 4 GiB file at 4 KiB
// pages is 32 MiB of hashes.
const uint64_t maxBlobs = 64;
const uint64_t maxSignatureBytes = 64 << 20;

// The NUL-terminated string at `at` of `blob`; false when it runs past it.
bool cString(std::string_view blob, uint64_t at, std::string& out) {
  if (at >= blob.size()) {
    return false;
  }
  const size_t end = blob.find('\0', at);
  if (end == std::string_view::npos) {
    return false;
  }
  out = std::string(blob.substr(at, end - at));
  return true;
}

// Reads one CodeDirectory; returns why not, or empty.
std::string readDirectory(std::string_view blob, CodeDirectory& cd) {
  const uint64_t length = blob.size();
  if (length < 44) {
    return "CodeDirectory of " + std::to_string(length) + " bytes";
  }
  cd.version = static_cast<uint32_t>(be(blob, 8, 4));
  cd.flags = static_cast<uint32_t>(be(blob, 12, 4));
  const uint64_t hashOffset = be(blob, 16, 4);
  const uint64_t identOffset = be(blob, 20, 4);
  cd.specialSlotCount = static_cast<uint32_t>(be(blob, 24, 4));
  cd.codeSlotCount = static_cast<uint32_t>(be(blob, 28, 4));
  cd.codeLimit = be(blob, 32, 4);
  cd.hashSize = static_cast<uint8_t>(blob[36]);
  cd.hashType = static_cast<uint8_t>(blob[37]);
  cd.pageSizeLog2 = static_cast<uint8_t>(blob[39]);
  // Each version appends fields; the blob must hold its version's.
  const uint64_t fieldsEnd = cd.version >= 0x20500   ? 96
                             : cd.version >= 0x20400 ? 88
                             : cd.version >= 0x20300 ? 64
                             : cd.version >= 0x20200 ? 52
                             : cd.version >= 0x20100 ? 48
                                                     : 44;
  if (cd.version < 0x20001 || length < fieldsEnd) {
    return "CodeDirectory version " + std::to_string(cd.version) + " in " +
           std::to_string(length) + " bytes";
  }
  if (cd.version >= 0x20300 && be(blob, 56, 8) != 0) {
    cd.codeLimit = be(blob, 56, 8);
  }
  if (cd.hashSize == 0 || cd.hashSize > 64) {
    return "hash size " + std::to_string(cd.hashSize);
  }
  if (cd.pageSizeLog2 != 0 && (cd.pageSizeLog2 < 9 || cd.pageSizeLog2 > 30)) {
    return "page size 2^" + std::to_string(cd.pageSizeLog2);
  }
  const uint64_t special = uint64_t(cd.specialSlotCount) * cd.hashSize;
  const uint64_t code = uint64_t(cd.codeSlotCount) * cd.hashSize;
  if (hashOffset > length || special > hashOffset ||
      code > length - hashOffset) {
    return "hashes outside the CodeDirectory";
  }
  cd.specialHashes = std::string(blob.substr(hashOffset - special, special));
  cd.codeHashes = std::string(blob.substr(hashOffset, code));
  if (!cString(blob, identOffset, cd.identifier)) {
    return "identifier outside the CodeDirectory";
  }
  const uint64_t teamOffset = cd.version >= 0x20200 ? be(blob, 48, 4) : 0;
  if (teamOffset != 0 && !cString(blob, teamOffset, cd.teamId)) {
    return "Team ID outside the CodeDirectory";
  }
  cd.blob = std::string(blob);
  return std::string();
}

}  // namespace

std::string CodeDirectory::specialSlot(int slot) const {
  if (slot < 1 || static_cast<uint32_t>(slot) > specialSlotCount) {
    return std::string();
  }
  const std::string hash =
      specialHashes.substr((specialSlotCount - slot) * hashSize, hashSize);
  return hash.find_first_not_of('\0') == std::string::npos ? std::string()
                                                           : hash;
}

std::string CodeDirectory::codeSlot(uint32_t index) const {
  return index < codeSlotCount ? codeHashes.substr(index * hashSize, hashSize)
                               : std::string();
}

std::string_view CodeSignature::entitlementsText() const {
  return std::string_view(entitlements)
      .substr(std::min<size_t>(8, entitlements.size()));
}

CodeSignature parseCodeSignature(std::string_view data) {
  CodeSignature signature;
  if (be(data, 0, 4) != superBlobMagic) {
    signature.problem = "no SuperBlob";
    return signature;
  }
  const uint64_t length = be(data, 4, 4);
  const uint64_t count = be(data, 8, 4);
  if (length < 12 || length > data.size()) {
    signature.problem = "a SuperBlob of " + std::to_string(length) +
                        " bytes in " + std::to_string(data.size());
    return signature;
  }
  if (count > maxBlobs || count > (length - 12) / 8) {
    signature.problem = std::to_string(count) + " blobs in a SuperBlob of " +
                        std::to_string(length) + " bytes";
    return signature;
  }
  const std::string_view super = data.substr(0, length);
  std::optional<CodeDirectory> first;
  for (uint64_t i = 0; i != count; ++i) {
    const uint64_t type = be(super, 12 + 8 * i, 4);
    const uint64_t at = be(super, 16 + 8 * i, 4);
    const uint64_t blobLength = be(super, at + 4, 4);
    if (at < 12 + 8 * count || at > length - std::min<uint64_t>(length, 8) ||
        blobLength < 8 || blobLength > length - at) {
      signature.problem =
          "blob " + std::to_string(i + 1) + " lies outside the SuperBlob";
      return signature;
    }
    const std::string_view blob = super.substr(at, blobLength);
    const uint64_t magic = be(blob, 0, 4);
    const auto expect = [&](uint32_t wanted) {
      if (magic != wanted && signature.problem.empty()) {
        signature.problem = "blob " + std::to_string(i + 1) + " of slot " +
                            std::to_string(type) + " has magic " +
                            std::to_string(magic);
      }
      return magic == wanted;
    };
    if (type == codeDirectorySlot ||
        (type >= alternateFirst && type <= alternateLast)) {
      if (!expect(codeDirectoryMagic)) {
        return signature;
      }
      CodeDirectory cd;
      const std::string why = readDirectory(blob, cd);
      if (!why.empty()) {
        signature.problem = why;
        return signature;
      }
      ++signature.directoryCount;
      // The SHA-256 directory is the one checked; the first stands in when
      // there is none.
      if (cd.sha256() && !signature.directory) {
        signature.directory = std::move(cd);
      } else if (!first) {
        first = std::move(cd);
      }
    } else if (type == 2 && expect(requirementsMagic)) {
      signature.requirements = std::string(blob);
    } else if (type == 5 && expect(entitlementsMagic)) {
      signature.entitlements = std::string(blob);
    } else if (type == 7 && expect(derEntitlementsMagic)) {
      signature.derEntitlements = std::string(blob);
    } else if (type == cmsSlot && expect(cmsMagic)) {
      signature.hasCmsBlob = true;
      signature.cmsSigned = blobLength > 8;
    }
    if (!signature.problem.empty()) {
      return signature;
    }
  }
  if (!signature.directory) {
    signature.directory = std::move(first);
  }
  if (!signature.directory) {
    signature.problem = "no CodeDirectory";
  }
  return signature;
}

CodeSignature readCodeSignature(const MachOSlice& slice, const ReadAt& read) {
  if (!slice.isSigned) {
    CodeSignature none;
    none.problem = "not signed";
    return none;
  }
  if (slice.signatureSize > maxSignatureBytes) {
    CodeSignature huge;
    huge.problem =
        "a signature of " + std::to_string(slice.signatureSize) + " bytes";
    return huge;
  }
  const std::string data =
      read(slice.offset + slice.signatureOffset, slice.signatureSize);
  return parseCodeSignature(data);
}

Seal checkSlot(const CodeDirectory& directory, int slot,
               std::string_view bytes) {
  const std::string sealed = directory.specialSlot(slot);
  if (sealed.empty()) {
    return Seal::Absent;
  }
  return sha256(bytes).substr(0, sealed.size()) == sealed ? Seal::Intact
                                                          : Seal::Broken;
}

PageCheck checkCodePages(const CodeDirectory& cd, const MachOSlice& slice,
                         const ReadAt& read) {
  PageCheck check;
  if (!cd.sha256()) {
    check.detail = "hash type " + std::to_string(cd.hashType) + " not checked";
    return check;
  }
  check.checked = true;
  const uint64_t page = cd.pageSizeLog2 == 0
                            ? std::max<uint64_t>(cd.codeLimit, 1)
                            : uint64_t(1) << cd.pageSizeLog2;
  const uint64_t pages = (cd.codeLimit + page - 1) / page;
  if (cd.codeLimit > slice.size) {
    check.detail = "the signed code limit " + std::to_string(cd.codeLimit) +
                   " passes the end of the slice (" +
                   std::to_string(slice.size) + " bytes)";
    return check;
  }
  if (pages != cd.codeSlotCount) {
    check.detail = std::to_string(cd.codeSlotCount) + " page hashes for " +
                   std::to_string(pages) + " pages";
    return check;
  }
  for (uint64_t k = 0; k != pages; ++k) {
    const uint64_t at = k * page;
    const uint64_t size = std::min(page, cd.codeLimit - at);
    // Read in pieces: a directory of one page may cover the whole file.
    Sha256 hash;
    bool complete = true;
    for (uint64_t done = 0; done != size && complete;) {
      const size_t piece =
          static_cast<size_t>(std::min<uint64_t>(size - done, 1 << 20));
      const std::string bytes = read(slice.offset + at + done, piece);
      hash.update(bytes);
      complete = bytes.size() == piece;
      done += piece;
    }
    if (!complete || hash.finish().substr(0, cd.hashSize) !=
                         cd.codeSlot(static_cast<uint32_t>(k))) {
      check.detail = "page " + std::to_string(k) + " (bytes " +
                     std::to_string(at) + " to " + std::to_string(at + size) +
                     ") differs";
      return check;
    }
  }
  check.intact = true;
  return check;
}

}  // namespace bundlecheck
