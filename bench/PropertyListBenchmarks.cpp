// Micro-benchmarks of the bundle check's property-list reader on Info.plist
// files at the 1 MiB size cap: a plain one, in XML and binary, against
// hostile ones of the same size. Every form reads in one pass, so each
// hostile file costs about what a plain one does, or less.

#include <benchmark/benchmark.h>

#include <string>

#include "PropertyList.h"

namespace {

const size_t size = 1 << 20;

// An ordinary Info.plist grown to 1 MiB with CFBundleURLTypes-like entries.
std::string plainXml() {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
      "<dict>\n\t<key>CFBundleExecutable</key>\n\t<string>App</string>\n"
      "\t<key>Entries</key>\n\t<array>\n";
  for (int i = 0; xml.size() < size - 200; ++i) {
    xml += "\t\t<dict><key>Name</key><string>entry &amp; " + std::to_string(i) +
           "</string><key>Rank</key><integer>" + std::to_string(i) +
           "</integer></dict>\n";
  }
  return xml + "\t</array>\n</dict>\n</plist>\n";
}

// The same entries in the binary form: one shared "Name" and "Rank" key,
// a string, an integer and a dictionary for each entry.
std::string plainBinary() {
  std::string objects;
  std::vector<uint64_t> offsets;
  const auto add = [&](const std::string& object) {
    offsets.push_back(8 + objects.size());
    objects += object;
    return offsets.size() - 1;
  };
  const auto ref = [](uint64_t n) {
    return std::string{static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                       static_cast<char>(n)};
  };
  const size_t count = 60000;
  add("\xaf\x12" +
      std::string{0, 0, static_cast<char>(count >> 8),
                  static_cast<char>(count & 0xff)} +
      [&] {
        std::string refs;
        for (size_t i = 0; i != count; ++i) {
          refs += ref(3 + 3 * i);
        }
        return refs;
      }());
  add("\x54Name");
  add("\x54Rank");
  for (size_t i = 0; i != count; ++i) {
    const uint64_t at = offsets.size();
    add("\xd2" + ref(1) + ref(2) + ref(at + 1) + ref(at + 2));
    add("\x5f\x10\x08"
        "entry " +
        std::to_string(i % 90 + 10));
    add("\x12" + std::string{static_cast<char>(i >> 24),
                             static_cast<char>(i >> 16),
                             static_cast<char>(i >> 8), static_cast<char>(i)});
  }
  std::string file = "bplist00" + objects;
  const uint64_t table = file.size();
  for (const uint64_t offset : offsets) {
    file += ref(offset);
  }
  std::string trailer(6, '\0');
  trailer += '\x03';
  trailer += '\x03';
  for (const uint64_t n : {uint64_t(offsets.size()), uint64_t(0), table}) {
    for (int shift = 56; shift >= 0; shift -= 8) {
      trailer += static_cast<char>(n >> shift);
    }
  }
  return file + trailer;
}

std::string filled(const std::string& head, const std::string& unit) {
  std::string xml = head;
  while (xml.size() + unit.size() <= size) {
    xml += unit;
  }
  return xml;
}

void read(benchmark::State& state, const std::string& bytes) {
  for (auto _ : state) {
    const bundlecheck::PropertyList list =
        bundlecheck::parsePropertyList(bytes);
    benchmark::DoNotOptimize(list.root);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}

const std::string lsEnvironment = "<plist><dict><key>LSEnvironment</key><dict>";

void BM_PlistPlainXml(benchmark::State& state) { read(state, plainXml()); }
void BM_PlistPlainBinary(benchmark::State& state) {
  read(state, plainBinary());
}
// Every '<' after LSEnvironment once scanned to the end of the file.
void BM_PlistHostileXmlOpenAngles(benchmark::State& state) {
  read(state, filled(lsEnvironment, "<"));
}
void BM_PlistHostileXmlNesting(benchmark::State& state) {
  read(state, filled(lsEnvironment, "<dict><key>k</key>"));
}
void BM_PlistHostileXmlUnclosedComments(benchmark::State& state) {
  read(state, filled(lsEnvironment, "<!-- -"));
}
void BM_PlistHostileXmlEntities(benchmark::State& state) {
  read(state, filled(lsEnvironment + "<key>", "&amp;&#x41;"));
}

BENCHMARK(BM_PlistPlainXml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlistPlainBinary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlistHostileXmlOpenAngles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlistHostileXmlNesting)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlistHostileXmlUnclosedComments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlistHostileXmlEntities)->Unit(benchmark::kMillisecond);

}  // namespace
