// The bundle check's readers on files in memory: Info.plist, and Mach-O
// headers, hostile ones included.

#include <gtest/gtest.h>

#include <cerrno>

#include "InfoPlist.h"
#include "LauncherVersion.h"
#include "LibraryFile.h"
#include "VersionMarker.h"
#include "helpers/MachOFixture.h"

namespace {

using testsupport::machO;
using testsupport::poke;
using testsupport::universal;
using namespace bundlecheck;
const size_t npos = std::string::npos;

LibraryHeader parse(const std::string& file) {
  return parseLibraryHeader(file.size(), [&](uint64_t at, size_t size) {
    return at > file.size() ? std::string() : file.substr(at, size);
  });
}

// "arch signed|unsigned" for each slice, then "! problem" when there is one.
std::string summary(const LibraryHeader& h) {
  std::string text;
  for (const MachOSlice& s : h.slices) {
    text += (text.empty() ? "" : ", ") + s.arch +
            (s.isSigned ? " signed" : " unsigned") +
            (s.problem.empty() ? "" : " !" + s.problem);
  }
  return h.problem.empty() ? text : text + " ! " + h.problem;
}

TEST(BundleCheckReaders, LibraryHeaders) {
  const std::string two = universal({"x86_64 dylib", "arm64 dylib signed"});
  std::string wide = universal({"x86_64 dylib", "arm64 dylib signed"}, true);
  std::string overlap = two, repeat = two, past = two, count = two;
  poke(overlap, 8 + 20 + 8, 256, 4, true);  // slice 2 at slice 1's offset
  poke(repeat, 8 + 20, 0x01000007, 4, true);
  poke(repeat, 8 + 24, 3, 4, true);
  poke(past, 8 + 20 + 12, 1u << 31, 4, true);
  poke(count, 4, 40, 4, true);
  std::string commandBytes = machO("arm64 dylib signed"),
              commandCount = commandBytes;
  std::string zeroCommand = commandBytes, signatureOut = commandBytes;
  poke(commandBytes, 20, 0xfffffff0, 4, false);
  poke(commandCount, 16, 1000000, 4, false);
  poke(zeroCommand, 36, 0, 4, false);
  poke(signatureOut, 40, 1u << 30, 4, false);
  std::string inTable = two, emptySignature = machO("arm64 dylib signed");
  poke(inTable, 8 + 8, 16, 4, true);  // slice 1 inside the table
  poke(emptySignature, 44, 0, 4, false);
  std::string lying = two;  // the table says arm64e for an arm64 slice
  poke(lying, 8 + 24, 0x80000002, 4, true);
  std::string classFile = "\xca\xfe\xba\xbe\x00\x00\x00\x34";
  const struct {
    const char* what;
    std::string file;
    LibraryHeader::Kind kind;
    std::string summary;
  } rows[] = {
      {"thin, signed", machO("arm64 dylib signed"), LibraryHeader::MachO,
       "arm64 signed"},
      {"32-bit universal header", two, LibraryHeader::Universal,
       "x86_64 unsigned, arm64 signed"},
      {"64-bit universal header", wide, LibraryHeader::Universal,
       "x86_64 unsigned, arm64 signed"},
      {"overlapping slices", overlap, LibraryHeader::Universal,
       "x86_64 unsigned ! slice 2 (arm64) overlaps slice 1"},
      {"repeated slice", repeat, LibraryHeader::Universal,
       "x86_64 unsigned ! slice 2 (x86_64) repeats slice 1"},
      {"slice past the end", past, LibraryHeader::Universal,
       "x86_64 unsigned ! slice 2 (arm64) lies outside the file"},
      {"count past the end", count, LibraryHeader::Universal,
       " ! its universal header names 40 slices, but the file ends inside "
       "the table"},
      {"slice header against the table", lying, LibraryHeader::Universal,
       "x86_64 unsigned, arm64 signed !its header is for arm64, the universal "
       "header says arm64e"},
      {"huge load-command size", commandBytes, LibraryHeader::MachO,
       "arm64 unsigned !load commands of 4294967280 bytes do not fit in the "
       "file"},
      {"a million load commands", commandCount, LibraryHeader::MachO,
       "arm64 unsigned !1000000 load commands cannot fit in 16 bytes"},
      {"load command of size 0", zeroCommand, LibraryHeader::MachO,
       "arm64 unsigned !load command 1 has size 0"},
      {"signature past the end", signatureOut, LibraryHeader::MachO,
       "arm64 unsigned !its code signature lies outside the file"},
      {"signature of 0 bytes", emptySignature, LibraryHeader::MachO,
       "arm64 unsigned !its code signature lies outside the file"},
      {"slice inside the universal header", inTable, LibraryHeader::Universal,
       " ! slice 1 (x86_64) lies outside the file"},
      {"compiled class file", classFile, LibraryHeader::Unknown, ""},
      {"text", "[Application]\n", LibraryHeader::Unknown, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const LibraryHeader h = parse(row.file);
    EXPECT_EQ(row.kind, h.kind) << h.description;
    EXPECT_EQ(row.summary, summary(h)) << h.description;
    // No file cut short reads as a well-formed one.
    for (size_t size = 0;
         row.summary.find('!') == npos && size < row.file.size(); ++size) {
      const LibraryHeader cut = parse(row.file.substr(0, size));
      EXPECT_TRUE(cut.kind == LibraryHeader::Unknown ||
                  summary(cut).find('!') != npos)
          << size << ": " << cut.description;
    }
  }

  // Load commands of more than 16 MiB are refused unread, however large
  // the file.
  std::string large = machO("arm64 dylib signed");
  poke(large, 20, (16 << 20) + 16, 4, false);
  const LibraryHeader h =
      parseLibraryHeader(64 << 20, [&](uint64_t at, size_t size) {
        EXPECT_LE(size, 4096u);
        return at < large.size() ? large.substr(at, size)
                                 : std::string(size, '\0');
      });
  EXPECT_EQ(
      "arm64 unsigned !load commands of 16777232 bytes do not fit in "
      "the file",
      summary(h));
}

// The version a launcher's marker names, and none when reading fails first.
TEST(BundleCheckReaders, LauncherVersion) {
  const std::string marker = QUERN_VERSION_MARKER_PREFIX "2.1";
  const std::string file =
      std::string(3000, 'x') + marker + '\0' + std::string(3000, 'y');
  const struct {
    size_t failAt;
    std::optional<std::string> version;
  } rows[] = {{npos, "2.1"}, {1000, std::nullopt}, {5000, "2.1"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.failAt);
    FileReader reader(
        [&](char* buffer, size_t size, uint64_t at) -> std::ptrdiff_t {
          if (at >= row.failAt) {
            errno = EIO;
            return -1;
          }
          return static_cast<std::ptrdiff_t>(
              file.copy(buffer, std::min<size_t>(size, 1000), at));
        });
    EXPECT_EQ(row.version, launcherVersion(reader));
  }
}

TEST(BundleCheckReaders, InfoPlist) {
  const struct {
    std::string text, format, executable, type;  // "-" for no value
  } rows[] = {
      {"<plist><dict><key>CFBundleExecutable</key>\n <string>A &amp; "
       "B</string><key>CFBundlePackageType</key><string>APPL</string></dict>"
       "</plist>",
       "xml", "A & B", "APPL"},
      {"<plist><dict><key>CFBundleExecutable</key><integer>1</integer>"
       "</dict></plist>",
       "xml", "-", "-"},
      {"<plist><array/></plist>", "xml, not read", "-", "-"},
      {"<plist><key>CFBundleExecutable</key><string>unclosed", "xml, not read",
       "-", "-"},
      {"bplist00<plist>", "binary, not read", "-", "-"},
      {"{ CFBundleExecutable = App; }", "old-style, not checked", "-", "-"},
      {"CFBundleExecutable", "not a property list", "-", "-"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const InfoPlist plist = parseInfoPlist(row.text);
    EXPECT_EQ(row.format, plist.format);
    EXPECT_EQ(row.executable, plist.bundleExecutable.value_or("-"));
    EXPECT_EQ(row.type, plist.bundlePackageType.value_or("-"));
    EXPECT_EQ(row.format != "xml", !plist.root.has_value());
  }
}

}  // namespace
