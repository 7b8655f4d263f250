// The code-signature reader and SHA-256, held against what other programs
// made: digests of Python's hashlib, and arm64 files signed by a linker
// (tests/fixtures/macho/README.md). The fixture signer is checked against
// that linker too.

#include <gtest/gtest.h>

#include "CodeSignature.h"
#include "Sha256.h"
#include "helpers/FixtureSigner.h"
#include "helpers/MachOFixture.h"
#include "helpers/TestSupport.h"

namespace {

using namespace bundlecheck;
using testsupport::poke;

ReadAt readerOf(const std::string& file) {
  return [&file](uint64_t at, size_t size) {
    return at > file.size() ? std::string() : file.substr(at, size);
  };
}

struct Read {
  MachOSlice slice;
  CodeSignature signature;
};

Read readSigned(const std::string& file) {
  const LibraryHeader header = parseLibraryHeader(file.size(), readerOf(file));
  EXPECT_EQ(1u, header.slices.size());
  Read read{header.slices.at(0), {}};
  read.signature = readCodeSignature(read.slice, readerOf(file));
  return read;
}

std::string fixture(const std::string& name) {
  return testsupport::readFile(testsupport::fixturePath("macho/" + name));
}

TEST(Sha256, AgreesWithHashlibAtEveryBlockBoundary) {
  // hashlib.sha256(bytes((i * 31 + 7) & 0xff for i in range(n))).
  const std::pair<size_t, const char*> rows[] = {
      {0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {1, "ca358758f6d27e6cf45272937977a748fd88391db679ceda7dc7bf1f005ee879"},
      {55, "8aa994584139d128848eeebc4e815639ba5ab6e6e39574195a63ac4f14f7c43b"},
      {56, "ad574708f75c044c9b85de64cb568ee7711ff4f36448c6242f053ba8f6cc2b63"},
      {63, "280ed3e8ff1df845b2e7dfe6ac6cee817bef20e783cc65abc41b818b4d2fe076"},
      {64, "c6ab9724ade5b6a7a1edfffb12f3aa9181351355af8fd08c919952ad211339dd"},
      {65, "788367c73c7ddf4c53f65e68cc0d943e6227ab55b0e78ba63ace822b1c6301c0"},
      {119, "3d610547d68216dedf7435a4fb6260353911f6b3fd3f18805ddb8be285d726fe"},
      {120, "1f80156a804cb7862ad113e8200e9d74499723e7c7854d5f48776d3148e09656"},
      {1000,
       "5097e7d587352f5097062ae679f37bda5802d9f875aba14c8cb4d1a188ada179"},
      {16384,
       "9038ac64e659335ccbfdd3f684f35a26a2c9e580d9af6b4807af3adbe2c257e3"},
      {1000003,
       "98a99a78c43949f17251c669c6e3ff37064482fdc65e85ef1f21b70c2e48a81b"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.first);
    std::string bytes;
    for (size_t i = 0; i != row.first; ++i) {
      bytes += static_cast<char>((i * 31 + 7) & 0xff);
    }
    EXPECT_EQ(row.second, hexOf(sha256(bytes)));
    // In uneven pieces, as pages are read.
    Sha256 pieces;
    for (size_t at = 0, step = 1; at < bytes.size(); at += step, step += 7) {
      pieces.update(std::string_view(bytes).substr(at, step));
    }
    EXPECT_EQ(row.second, hexOf(pieces.finish()));
  }
}

TEST(CodeSignature, LinkerSignedFilesVerifyAndAFlippedByteDoesNot) {
  for (const char* name :
       {"linker-signed-arm64-exe", "linker-signed-arm64.dylib"}) {
    SCOPED_TRACE(name);
    std::string file = fixture(name);
    const Read read = readSigned(file);
    ASSERT_EQ("", read.signature.problem);
    const CodeDirectory& cd = *read.signature.directory;
    EXPECT_EQ(0x20400u, cd.version);
    EXPECT_TRUE(cd.adHoc() && cd.linkerSigned() && !cd.hardenedRuntime());
    EXPECT_EQ(14, cd.pageSizeLog2);
    EXPECT_EQ(read.slice.signatureOffset, cd.codeLimit);
    EXPECT_EQ("", cd.teamId);
    EXPECT_EQ(0u, cd.specialSlotCount);
    EXPECT_FALSE(read.signature.hasCmsBlob);
    EXPECT_EQ("", read.signature.requirements);
    EXPECT_TRUE(checkCodePages(cd, read.slice, readerOf(file)).intact);
    file[792] ^= 1;  // in __text
    const PageCheck changed = checkCodePages(cd, read.slice, readerOf(file));
    EXPECT_TRUE(changed.checked);
    EXPECT_FALSE(changed.intact);
    EXPECT_EQ("page 0 (bytes 0 to 16384) differs", changed.detail);
  }
}

// Re-signed at the linker's page size, like a linker, the signer writes the
// linker's own bytes: the same page hashes, the same directory.
TEST(FixtureSigner, ReproducesTheLinkersSignature) {
  for (const auto& [name, identifier] :
       {std::pair<std::string, std::string>{"linker-signed-arm64-exe", "App"},
        {"linker-signed-arm64.dylib", "libzli.dylib"}}) {
    SCOPED_TRACE(name);
    const std::string linked = fixture(name);
    testsupport::SignOptions options;
    options.identifier = identifier;
    options.linkerStyle = true;
    options.pageSizeLog2 = 14;
    const std::string resigned = testsupport::resign(linked, options);
    const CodeDirectory ours = *readSigned(resigned).signature.directory;
    const CodeDirectory theirs = *readSigned(linked).signature.directory;
    EXPECT_EQ(hexOf(theirs.codeHashes), hexOf(ours.codeHashes));
    EXPECT_EQ(hexOf(theirs.blob), hexOf(ours.blob));
    EXPECT_TRUE(linked == resigned);
  }
}

TEST(CodeSignature, WhatTheSignerSealsReadsBack) {
  testsupport::SignOptions options;
  options.teamId = "TEAM123456";
  options.hardenedRuntime = true;
  options.entitlements = "<plist><dict/></plist>";
  options.infoPlist = "info";
  options.codeResources = "resources";
  const std::string file =
      testsupport::resign(fixture("linker-signed-arm64-exe"), options);
  const Read read = readSigned(file);
  ASSERT_EQ("", read.signature.problem);
  const CodeDirectory& cd = *read.signature.directory;
  EXPECT_EQ("TEAM123456", cd.teamId);
  EXPECT_EQ("com.example.app", cd.identifier);
  EXPECT_TRUE(cd.hardenedRuntime() && !cd.adHoc() && !cd.linkerSigned());
  EXPECT_TRUE(read.signature.cmsSigned);
  EXPECT_EQ("<plist><dict/></plist>", read.signature.entitlementsText());
  EXPECT_EQ(Seal::Intact, checkSlot(cd, infoPlistSlot, "info"));
  EXPECT_EQ(Seal::Broken, checkSlot(cd, resourcesSlot, "resources!"));
  EXPECT_EQ(Seal::Intact,
            checkSlot(cd, entitlementsSlot, read.signature.entitlements));
  EXPECT_EQ(Seal::Intact,
            checkSlot(cd, requirementsSlot, read.signature.requirements));
  EXPECT_EQ(Seal::Absent, checkSlot(cd, 4, ""));
  EXPECT_EQ(Seal::Absent, checkSlot(cd, derEntitlementsSlot, ""));
  EXPECT_TRUE(checkCodePages(cd, read.slice, readerOf(file)).intact);
  EXPECT_EQ(12, cd.pageSizeLog2);
}

// A SuperBlob of the given blobs, each {slot, blob}.
std::string superBlob(
    const std::vector<std::pair<uint32_t, std::string>>& blobs) {
  std::string index, body;
  for (const auto& [slot, blob] : blobs) {
    std::string entry;
    poke(entry, 0, slot, 4, true);
    poke(entry, 4, 12 + 8 * blobs.size() + body.size(), 4, true);
    index += entry;
    body += blob;
  }
  std::string head;
  poke(head, 0, 0xfade0cc0, 4, true);
  poke(head, 4, 12 + index.size() + body.size(), 4, true);
  poke(head, 8, blobs.size(), 4, true);
  return head + index + body;
}

TEST(CodeSignature, AlternatesAndHostileSignatures) {
  const std::string linked = fixture("linker-signed-arm64-exe");
  const Read read = readSigned(linked);
  const std::string cd = read.signature.directory->blob;
  std::string sha1 = cd;  // the same directory, as if of SHA-1 hashes
  poke(sha1, 37, 1, 1, true);
  const auto at = [&](size_t offset, uint64_t value, int bytes = 4) {
    std::string changed = cd;
    poke(changed, offset, value, bytes, true);
    return superBlob({{0, changed}});
  };
  std::string cms;
  poke(cms, 0, 0xfade0b01, 4, true);
  poke(cms, 4, 8, 4, true);
  const struct {
    const char* what;
    std::string data;
    std::string problem;  // words of it, or empty
    int hashType;
  } rows[] = {
      {"SHA-1 first, SHA-256 alternate",
       superBlob({{0, sha1}, {0x1000, cd}, {0x10000, cms}}), "", 2},
      {"SHA-1 only", superBlob({{0, sha1}}), "", 1},
      {"no directory", superBlob({{0x10000, cms}}), "no CodeDirectory", 0},
      {"empty", "", "no SuperBlob", 0},
      {"length past the data", superBlob({{0, cd}}).substr(0, 100),
       "SuperBlob of 176 bytes in 100", 0},
      {"huge count",
       [&] {
         std::string s = superBlob({{0, cd}});
         poke(s, 8, 0xffffffff, 4, true);
         return s;
       }(),
       "4294967295 blobs", 0},
      {"blob offset past the end",
       [&] {
         std::string s = superBlob({{0, cd}});
         poke(s, 16, 0xfffffff0, 4, true);
         return s;
       }(),
       "outside the SuperBlob", 0},
      {"blob length past the end", at(4, 0xffffff), "outside the SuperBlob", 0},
      {"wrong magic", at(0, 0xfade0c01), "has magic", 0},
      {"code hashes past the end", at(28, 1000), "hashes outside", 0},
      {"special hashes before the start", at(24, 1000), "hashes outside", 0},
      {"hash offset past the end", at(16, 0xffffffff), "hashes outside", 0},
      {"identifier past the end", at(20, 0xffffffff), "identifier outside", 0},
      {"team offset past the end", at(48, 0xffffffff), "Team ID outside", 0},
      {"page size 2^40", at(39, 40, 1), "page size", 0},
      {"hash size 0", at(36, 0, 1), "hash size 0", 0},
      {"version before the first", at(8, 0x10000), "CodeDirectory version", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const CodeSignature signature = parseCodeSignature(row.data);
    if (row.problem.empty()) {
      EXPECT_EQ("", signature.problem);
      ASSERT_TRUE(signature.directory);
      EXPECT_EQ(row.hashType, signature.directory->hashType);
    } else {
      EXPECT_NE(std::string::npos, signature.problem.find(row.problem))
          << signature.problem;
    }
  }
  // A directory whose pages do not add up, or that passes the slice.
  CodeDirectory pages = *read.signature.directory;
  pages.codeLimit = 100;
  EXPECT_EQ("2 page hashes for 1 pages",
            checkCodePages(pages, read.slice, readerOf(linked)).detail);
  pages.codeLimit = read.slice.size + 1;
  EXPECT_NE(std::string::npos,
            checkCodePages(pages, read.slice, readerOf(linked))
                .detail.find("passes the end"));
  pages.hashType = 1;
  EXPECT_FALSE(checkCodePages(pages, read.slice, readerOf(linked)).checked);
}

}  // namespace
