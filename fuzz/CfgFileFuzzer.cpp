// The configuration parser on arbitrary file bytes, then macro expansion of
// what it loaded with realistic and hostile macro values.
//
// Input: three selector bytes, one for each of "$APPDIR", "$BINDIR" and
// "$ROOTDIR", each picking a value from the table below (a selector that
// picks the last entry takes a length byte and that many bytes from the
// input as the value); the rest of the input is the file.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FuzzSupport.h"

namespace {

typedef CfgFile::Id<CfgFile::SectionNameTag> SectionId;
typedef CfgFile::Id<CfgFile::PropertyNameTag> PropertyId;

const SectionId* const sections[] = {
    &SectionName::Application, &SectionName::ZealOptions,
    &SectionName::PrewarmZealOptions,
    &SectionName::PrewarmGenerateCacheZealOptions, &SectionName::ArgOptions};

const PropertyId* const properties[] = {
    &PropertyName::version,    &PropertyName::mainzar,
    &PropertyName::mainmodule, &PropertyName::mainclass,
    &PropertyName::classpath,  &PropertyName::modulepath,
    &PropertyName::runtime,    &PropertyName::splash,
    &PropertyName::memory,     &PropertyName::arguments,
    &PropertyName::zealOptions};

const char* const macroKeys[] = {"$APPDIR", "$BINDIR", "$ROOTDIR"};

// Values the launcher really produces (absolute paths, the empty image root
// of a launcher near the file-system root, blanks, UTF-8, configuration
// syntax), then values that refer to macros, and last the value taken from
// the input.
const std::vector<std::string>& macroValues() {
  static const std::vector<std::string> values = {
      "/Applications/Demo.app/Contents/app",
      "",
      "Contents/app",
      "/Users/u/My Apps/Demo \xE2\x9C\x93.app/Contents/MacOS",
      "/" + std::string(1000, 'a'),
      "/tmp/x;y=z [w]",
      "DIR",
      "$APPDIR/lib",
      "$BINDIR",
      "$ROOTDIR$ROOTDIR",
      "/opt/$APPDIR",
      "$",
  };
  return values;
}

int fileDescriptor = -1;
std::string filePath;

// Every value of every recognised property, in a fixed order.
typedef std::vector<std::vector<std::string>> Snapshot;

Snapshot snapshot(const CfgFile& cfg) {
  Snapshot result;
  for (const SectionId* section : sections) {
    const CfgFile::Properties& props = cfg.getProperties(*section);
    for (const PropertyId* property : properties) {
      const CfgFile::Properties::const_iterator it = props.find(*property);
      result.push_back(it == props.end() ? std::vector<std::string>()
                                         : it->second);
    }
  }
  return result;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool isUnclosedHeader(const std::string& line) {
  return !line.empty() && line[0] == '[' && line.find(']') == std::string::npos;
}

bool isRecognisedKey(const std::string& key) {
  for (const PropertyId* property : properties) {
    if (key == property->name()) {
      return true;
    }
  }
  return false;
}

// A failed load names the first header line without "]", or a line before
// it that gives a recognised key a value with a zero byte.
void checkParseError(const std::string& file, const std::string& message) {
  const std::vector<std::string> lines = splitLines(file);
  size_t first = 0;
  while (first != lines.size() && !isUnclosedHeader(lines[first])) {
    ++first;
  }
  const std::string prefix = "Error parsing [" + filePath + "] file at ";
  FUZZ_CHECK(message.compare(0, prefix.size(), prefix) == 0,
             "load failed: " + visible(message));
  const size_t number = std::strtoul(message.c_str() + prefix.size(), 0, 10);
  FUZZ_CHECK(number >= 1 && number <= lines.size(), visible(message));
  const std::string& line = lines[number - 1];
  const std::string::size_type equals = line.find('=');
  const std::string key = line.substr(0, equals);
  const std::string nul = prefix + std::to_string(number) +
                          ": NUL character in the value of \"" + key + "\"";
  if (message == nul) {
    FUZZ_CHECK(number <= first && equals != std::string::npos &&
                   line.find('\0', equals) != std::string::npos &&
                   isRecognisedKey(key),
               visible(message) + " for line " + visible(line));
    return;
  }
  const std::string expected =
      prefix + std::to_string(first + 1) + ": Missing ']' character";
  FUZZ_CHECK(first != lines.size() && message == expected,
             visible(message) + " instead of " + visible(expected));
}

// Every stored value is the text after "<key>=" of a whole line of the
// file, or the empty value of a line that is only the key.
void checkLoaded(const std::string& file, const Snapshot& loaded) {
  const std::string padded = "\n" + file + "\n";
  size_t values = 0;
  size_t searched = 0;
  for (size_t s = 0; s != sizeof sections / sizeof *sections; ++s) {
    for (size_t p = 0; p != sizeof properties / sizeof *properties; ++p) {
      const std::vector<std::string>& list =
          loaded[s * (sizeof properties / sizeof *properties) + p];
      values += list.size();
      const std::string key = properties[p]->name();
      for (const std::string& value : list) {
        FUZZ_CHECK(value.find('\n') == std::string::npos &&
                       value.find('\0') == std::string::npos,
                   visible(value));
        // Searching is quadratic; a few values per input are enough.
        if (searched++ > 32) {
          continue;
        }
        const bool found =
            padded.find("\n" + key + "=" + value + "\n") != std::string::npos ||
            (value.empty() &&
             padded.find("\n" + key + "\n") != std::string::npos);
        FUZZ_CHECK(found, key + "=" + visible(value));
      }
    }
  }
  FUZZ_CHECK(values <= splitLines(file).size(),
             std::to_string(values) + " values");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceLogger();
  fileDescriptor = memfd_create("cfg", 0);
  if (fileDescriptor < 0) {
    std::perror("memfd_create");
    std::abort();
  }
  filePath = "/proc/self/fd/" + std::to_string(fileDescriptor);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) {
    return 0;
  }
  const std::vector<std::string>& table = macroValues();
  const uint8_t* const end = data + size;
  const uint8_t* next = data + 3;
  CfgFile::Macros macros;
  // Paths as the launcher makes them: absolute, without "$". No key can
  // then begin in the text and end in an inserted value or the other way
  // round, so one pass replaces every key and the next changes nothing.
  bool pathMacros = true;
  for (int i = 0; i != 3; ++i) {
    const size_t choice = data[i] % (table.size() + 1);
    std::string value;
    if (choice < table.size()) {
      value = table[choice];
    } else if (next != end) {
      const size_t wanted = *next++;
      const size_t length = std::min<size_t>(wanted, end - next);
      value.assign(reinterpret_cast<const char*>(next), length);
      next += length;
    }
    pathMacros = pathMacros && !value.empty() && value[0] == '/' &&
                 value.find('$') == std::string::npos;
    macros[macroKeys[i]] = value;
  }
  const std::string file(reinterpret_cast<const char*>(next), end - next);

  if (ftruncate(fileDescriptor, 0) != 0 ||
      pwrite(fileDescriptor, file.data(), file.size(), 0) !=
          static_cast<ssize_t>(file.size())) {
    std::perror("memfd write");
    std::abort();
  }

  CfgFile loaded;
  try {
    loaded = CfgFile::load(filePath);
  } catch (const QuernErrorBase& e) {
    checkParseError(file, e.rawMessage());
    return 0;
  }
  const Snapshot before = snapshot(loaded);
  checkLoaded(file, before);

  CfgFile expanded;
  try {
    expanded = loaded.expandMacros(macros);
  } catch (const QuernErrorBase& e) {
    const std::string message = e.rawMessage();
    FUZZ_CHECK(message.find("does not settle") != std::string::npos,
               visible(message));
    FUZZ_CHECK(!pathMacros, "path macros did not settle: " + visible(message));
    FUZZ_CHECK(snapshot(loaded) == before, "the original changed");
    return 0;
  }
  FUZZ_CHECK(snapshot(loaded) == before, "the original changed");

  const Snapshot after = snapshot(expanded);
  for (size_t i = 0; i != before.size(); ++i) {
    FUZZ_CHECK(after[i].size() == before[i].size(),
               "value count changed at " + std::to_string(i));
    for (const std::string& value : after[i]) {
      for (const auto& macro : macros) {
        FUZZ_CHECK(!pathMacros || macro.first.empty() ||
                       value.find(macro.first) == std::string::npos,
                   macro.first + " left in " + visible(value));
      }
    }
  }
  // A settled configuration is a fixed point: expanding it again changes
  // nothing.
  FUZZ_CHECK(snapshot(expanded.expandMacros(macros)) == after,
             "expansion did not settle");
  return 0;
}
