// The bundle check's library reader on arbitrary bytes: ELF, thin and
// universal Mach-O headers and load commands. Whatever the counts and sizes
// say, it reads only what the file holds and no slice twice, and weighing
// the result against a launcher (itself included) never fails.

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>

#include "FuzzSupport.h"
#include "LibraryFile.h"
#include "Platform.h"

namespace {

std::string summary(const bundlecheck::LibraryHeader& h) {
  return h.description + " / " + h.problem;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceLogger();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file(reinterpret_cast<const char*>(data), size);
  uint64_t largest = 0;
  const bundlecheck::LibraryHeader header =
      bundlecheck::parseLibraryHeader(file.size(), [&](uint64_t at, size_t n) {
        largest = std::max<uint64_t>(largest, n);
        return at >= file.size() ? std::string() : file.substr(at, n);
      });
  // The first read is the 4096-byte prefix; any other is for bytes the
  // headers place inside the file.
  FUZZ_CHECK(largest <= std::max<uint64_t>(4096, file.size()),
             std::to_string(largest));
  FUZZ_CHECK(!header.description.empty(), visible(file));
  FUZZ_CHECK(header.slices.size() <= 64, summary(header));
  std::set<std::pair<uint32_t, uint32_t>> archs;
  for (const bundlecheck::MachOSlice& slice : header.slices) {
    FUZZ_CHECK(header.isMachO(), summary(header));
    FUZZ_CHECK(!slice.arch.empty(), summary(header));
    if (header.kind == bundlecheck::LibraryHeader::Universal) {
      FUZZ_CHECK(
          archs.insert({slice.cpuType, slice.cpuSubtype & 0xffffff}).second ||
              !slice.problem.empty(),
          summary(header));
    }
  }
  for (const auto& outcome :
       bundlecheck::weighPlatform(bundlecheck::hostLauncher(), header)) {
    FUZZ_CHECK(outcome.loads() || !outcome.cause.empty(), summary(header));
  }
  for (const auto& outcome : bundlecheck::weighPlatform(header, header)) {
    FUZZ_CHECK(outcome.loads() || !outcome.cause.empty(), summary(header));
  }
  return 0;
}
