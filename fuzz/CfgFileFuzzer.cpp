// The configuration parser on arbitrary file bytes, then macro expansion of
// what it loaded with realistic and hostile macro values, checked against a
// plain expansion under the rule that decides which values are refused.
//
// Input: three selector bytes, one for each of "$APPDIR", "$BINDIR" and
// "$ROOTDIR", each picking a value from the table below (a selector that
// picks the last entry takes a length byte and that many bytes from the
// input as the value); the rest of the input is the file.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
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

// The expansion rule as the documentation states it. Under a table whose
// macro values all start with a byte that no key holds (or are empty) and
// hold no key, a value of n bytes settles after at most n passes that change
// it, and no text of it is longer than n times the longest macro value (or
// n bytes). Under any other table a value is refused once 64 passes more
// than there are macros have changed it without settling, or once the texts
// built for it would add up to more than 64 n bytes + 64 KiB.
bool holdsNoKeyAndStartsClear(const CfgFile::Macros& macros) {
  for (const auto& key : macros) {
    for (const auto& macro : macros) {
      const std::string& value = macro.second;
      if (!key.first.empty() && !macro.first.empty() && !value.empty() &&
          (key.first.find(value[0]) != std::string::npos ||
           value.find(key.first) != std::string::npos)) {
        return false;
      }
    }
  }
  return true;
}

struct Plain {
  bool settled = false;
  std::string text;
  size_t passes = 0;
  size_t bytesBuilt = 0;
  size_t longestText = 0;
};

// Non-overlapping occurrences from the left.
size_t occurrences(const std::string& text, const std::string& key) {
  size_t count = 0;
  for (size_t at = text.find(key); at != std::string::npos;
       at = text.find(key, at + key.size())) {
    ++count;
  }
  return count;
}

std::string replaceAll(const std::string& text, const std::string& key,
                       const std::string& value) {
  std::string result;
  size_t start = 0;
  for (size_t at = text.find(key); at != std::string::npos;
       at = text.find(key, start)) {
    result.append(text, start, at - start);
    result += value;
    start = at + key.size();
  }
  result.append(text, start, std::string::npos);
  return result;
}

// Every macro over the whole text in the table's order, pass after pass,
// until a pass changes nothing; gives up, unsettled, after
// `maxChangingPasses` passes that change the text or before building a text
// that would bring the bytes built above `maxBytes`.
Plain expandPlainly(const std::string& value, const CfgFile::Macros& macros,
                    size_t maxChangingPasses, size_t maxBytes) {
  Plain plain;
  plain.text = value;
  for (size_t changing = 0;; ++changing) {
    ++plain.passes;
    std::string next = plain.text;
    for (const auto& macro : macros) {
      const size_t count =
          macro.first.empty() ? 0 : occurrences(next, macro.first);
      if (count == 0) {
        continue;
      }
      const size_t size = next.size() - count * macro.first.size() +
                          count * macro.second.size();
      if (size > maxBytes - plain.bytesBuilt) {
        return plain;
      }
      next = replaceAll(next, macro.first, macro.second);
      plain.bytesBuilt += next.size();
      plain.longestText = std::max(plain.longestText, next.size());
    }
    if (next == plain.text) {
      plain.settled = true;
      return plain;
    }
    if (changing == maxChangingPasses) {
      return plain;
    }
    plain.text.swap(next);
  }
}

// What the rule says of one value: its expansion, or unsettled when the
// value is refused.
Plain expectedExpansion(const std::string& value,
                        const CfgFile::Macros& macros) {
  const size_t n = value.size();
  size_t longest = 0;
  for (const auto& macro : macros) {
    if (!macro.first.empty()) {
      longest = std::max(longest, macro.second.size());
    }
  }
  if (holdsNoKeyAndStartsClear(macros)) {
    const Plain plain = expandPlainly(value, macros, n, SIZE_MAX);
    FUZZ_CHECK(plain.settled, "no settling in " + std::to_string(n) +
                                  " passes: " + visible(value));
    FUZZ_CHECK(
        plain.longestText <= n * std::max<size_t>(longest, 1),
        std::to_string(plain.longestText) + " bytes from " + visible(value));
    return plain;
  }
  return expandPlainly(value, macros, macros.size() + 64, 64 * n + (64 << 10));
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

  // The rule's verdict on every value, in the order expansion takes them
  // (sections and properties by name): the first refused one is named.
  std::vector<std::pair<std::string, size_t>> order;
  for (size_t s = 0; s != sizeof sections / sizeof *sections; ++s) {
    for (size_t p = 0; p != sizeof properties / sizeof *properties; ++p) {
      order.emplace_back(sections[s]->name() + '\0' + properties[p]->name(),
                         s * (sizeof properties / sizeof *properties) + p);
    }
  }
  std::sort(order.begin(), order.end());
  Snapshot expected(before.size());
  std::string refusal;
  size_t passes = 0;
  size_t bytesBuilt = 0;
  for (const auto& entry : order) {
    for (const std::string& value : before[entry.second]) {
      const Plain plain = expectedExpansion(value, macros);
      if (!plain.settled) {
        const size_t split = entry.first.find('\0');
        refusal = "Macro expansion of \"" + entry.first.substr(split + 1) +
                  "\" in section \"" + entry.first.substr(0, split) +
                  "\" does not settle";
        break;
      }
      expected[entry.second].push_back(plain.text);
      passes += plain.passes;
      bytesBuilt += plain.bytesBuilt;
    }
    if (!refusal.empty()) {
      break;
    }
  }

  CfgFile expanded;
  CfgFile::ExpansionWork work;
  try {
    expanded = loaded.expandMacros(macros, &work);
  } catch (const QuernErrorBase& e) {
    FUZZ_CHECK(e.rawMessage() == refusal,
               visible(e.rawMessage()) + " instead of " + visible(refusal));
    FUZZ_CHECK(snapshot(loaded) == before, "the original changed");
    return 0;
  }
  FUZZ_CHECK(refusal.empty(), "accepted, not " + refusal);
  FUZZ_CHECK(snapshot(loaded) == before, "the original changed");

  const Snapshot after = snapshot(expanded);
  FUZZ_CHECK(after == expected, "not the plain expansion");
  FUZZ_CHECK(work.passes == passes && work.bytesBuilt == bytesBuilt,
             std::to_string(work.passes) + " passes and " +
                 std::to_string(work.bytesBuilt) + " bytes built, not " +
                 std::to_string(passes) + " and " + std::to_string(bytesBuilt));
  for (const std::vector<std::string>& values : after) {
    for (const std::string& value : values) {
      for (const auto& macro : macros) {
        FUZZ_CHECK(!pathMacros || value.find(macro.first) == std::string::npos,
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
