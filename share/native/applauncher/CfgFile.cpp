#include "CfgFile.h"

#include <cerrno>
#include <istream>

#include "ErrorHandling.h"
#include "FileReader.h"
#include "FileUtils.h"

typedef CfgFile::Id<CfgFile::SectionNameTag> SectionId;
typedef CfgFile::Id<CfgFile::PropertyNameTag> PropertyId;

namespace SectionName {
const SectionId Application("Application");
const SectionId ZealOptions("ZealOptions");
const SectionId PrewarmZealOptions("PrewarmZealOptions");
const SectionId PrewarmGenerateCacheZealOptions(
    "PrewarmGenerateCacheZealOptions");
const SectionId ArgOptions("ArgOptions");
}  // namespace SectionName

namespace PropertyName {
const PropertyId version("app.version");
const PropertyId mainzar("app.mainzar");
const PropertyId mainmodule("app.mainmodule");
const PropertyId mainclass("app.mainclass");
const PropertyId classpath("app.classpath");
const PropertyId modulepath("app.modulepath");
const PropertyId runtime("app.runtime");
const PropertyId splash("app.splash");
const PropertyId memory("app.memory");
const PropertyId arguments("arguments");
const PropertyId zealOptions("zeal-options");
}  // namespace PropertyName

namespace {

// Stands for "no recognised section": property lines under it are passed
// over.
const SectionId UnknownSection("");

const SectionId* const knownSections[] = {
    &SectionName::Application, &SectionName::ZealOptions,
    &SectionName::PrewarmZealOptions,
    &SectionName::PrewarmGenerateCacheZealOptions, &SectionName::ArgOptions};

const PropertyId* const knownProperties[] = {
    &PropertyName::version,    &PropertyName::mainzar,
    &PropertyName::mainmodule, &PropertyName::mainclass,
    &PropertyName::classpath,  &PropertyName::modulepath,
    &PropertyName::runtime,    &PropertyName::splash,
    &PropertyName::memory,     &PropertyName::arguments,
    &PropertyName::zealOptions};

template <class Id, size_t N>
const Id* findKnown(const Id* const (&known)[N], const std::string& name) {
  // Compared as identifiers, without making a string of each known name. A
  // name with a zero byte in it matches none of them.
  if (name.find('\0') != std::string::npos) {
    return nullptr;
  }
  const Id candidate(name.c_str());
  for (const Id* id : known) {
    if (*id == candidate) {
      return id;
    }
  }
  return nullptr;
}

class AddProperty {
 public:
  AddProperty(const SectionId& sectionName, CfgFile::Properties& sectionData)
      : sectionName(sectionName), sectionData(sectionData) {}

  // Records the value when the section and the key are recognised; returns
  // whether it did.
  bool operator()(const std::string& key, std::string& value) const {
    if (sectionName == UnknownSection) {
      return false;
    }
    const PropertyId* id = findKnown(knownProperties, key);
    if (!id) {
      return false;
    }
    sectionData[*id].push_back(std::move(value));
    return true;
  }

 private:
  const SectionId& sectionName;
  CfgFile::Properties& sectionData;
};

// The lines whose properties each section holds, kept for a listener only:
// the lines of the occurrence being read, and those of the occurrence each
// section stored last.
struct RecordedLines {
  std::vector<int> occurrence;
  std::map<std::string, std::vector<int>> stored;
};

template <class PropertyMap>
class PurgeSection {
  typedef CfgFile::Properties Properties;

 public:
  PurgeSection(SectionId& sectionName, CfgFile::Properties& sectionData,
               PropertyMap& sections, RecordedLines& lines)
      : sectionName(sectionName),
        sectionData(sectionData),
        sections(sections),
        lines(lines) {}

  // Hands the collected table to the configuration, replacing what an
  // earlier occurrence of the same section stored there. `lineno` is the
  // line after the section's last one, for the listener.
  void operator()(int lineno, CfgFile::LoadListener* listener) const {
    if (sectionName == UnknownSection || sectionData.empty()) {
      return;
    }
    Properties& stored = sections[sectionName];
    if (listener) {
      // After the swap, `occurrence` holds the lines being discarded.
      lines.stored[sectionName.name()].swap(lines.occurrence);
      if (!stored.empty()) {
        listener->sectionReplaced(lineno, sectionName.name(), lines.occurrence);
      }
      lines.occurrence.clear();
    }
    stored.swap(sectionData);
    sectionData.clear();
    sectionName = UnknownSection;
  }

 private:
  SectionId& sectionName;
  CfgFile::Properties& sectionData;
  PropertyMap& sections;
  RecordedLines& lines;
};

void tellProperty(CfgFile::LoadListener& listener, int lineno,
                  const SectionId& section, const std::string& key,
                  const std::string& value) {
  if (section == UnknownSection) {
    listener.property(lineno, std::string(), key, value,
                      CfgFile::LoadListener::OutsideSection);
  } else {
    listener.property(lineno, section.name(), key, value,
                      findKnown(knownProperties, key)
                          ? CfgFile::LoadListener::Recorded
                          : CfgFile::LoadListener::UnrecognisedKey);
  }
}

// Splits at the first '=' not preceded by a backslash; a line without one is
// all key and an empty value.
void splitProperty(const std::string& line, std::string& key,
                   std::string& value) {
  std::string::size_type pos = 0;
  for (;;) {
    pos = line.find('=', pos);
    if (pos == std::string::npos || pos == 0 || line[pos - 1] != '\\') {
      break;
    }
    ++pos;
  }
  if (pos == std::string::npos) {
    key = line;
    value.clear();
  } else {
    key.assign(line, 0, pos);
    value.assign(line, pos + 1, std::string::npos);
  }
}

// Whether every value settles under this macro table, so that its expansion
// needs no limit: every macro value that is not empty starts with a byte
// that no key holds, and no macro value holds a key.
//
// Then every key occurrence that a pass replaces takes at least one byte of
// the value as written with it. What is left of an inserted macro value is
// always a beginning of it, its first byte included. An occurrence cannot
// hold such a first byte, so it touches at most one inserted value, and it
// cannot lie inside it, since no macro value holds a key: it runs from
// inside that value into written bytes, and leaves a shorter beginning
// behind. Written bytes, once replaced, are gone, so a value of n bytes
// takes at most n replacements in all: it settles after at most n passes
// that change it, and no text of it is longer than n times the longest
// macro value (or n bytes, if that is more).
//
// The launcher's macro values are paths that start with "/", which no key
// holds. They hold a key only when the bundle's path does, and then every
// one of them holds it. The keys start with "$" and hold no other, so two
// occurrences never overlap: an occurrence stays whole until its own macro
// replaces it with a longer text that holds the key again. A value that
// uses any macro then never settles, and one that uses none settles
// without a replacement.
bool everyValueSettles(const CfgFile::Macros& macros) {
  for (const auto& key : macros) {
    if (key.first.empty()) {
      continue;
    }
    for (const auto& macro : macros) {
      const std::string& value = macro.second;
      if (macro.first.empty() || value.empty()) {
        continue;
      }
      if (key.first.find(value[0]) != std::string::npos ||
          value.find(key.first) != std::string::npos) {
        return false;
      }
    }
  }
  return true;
}

// Any other table gets two limits, which bound the time and memory that
// expanding a value of n bytes takes:
// - at most 64 passes more than there are macros may change it (a chain of
//   macros that name each other needs one pass per link);
// - the texts that replacements build for it add up to at most
//   64 n bytes + 64 KiB; a text that would go past that is not built.
// A pass reads the text it starts with (the value, or the last text of the
// pass before) and the texts it builds, each a few times per macro, so that
// refusing a value takes reading and writing at most a few times (macro
// count + 2) that budget, besides reading the value once per macro, and
// holding two of its texts at a time. The budget does not grow with the macro
// values: texts made of short keys side by side cost the most to read. As shown
// above, no launcher value that settles makes a replacement under such a table:
// these limits refuse none of them.
class ExpansionLimits {
 public:
  explicit ExpansionLimits(const CfgFile::Macros& macros)
      : limited(!everyValueSettles(macros)), macroCount(macros.size()) {}

  // Both limits are std::string::npos for a table under which every value
  // settles.
  std::string::size_type maxChangingPasses() const {
    return limited ? macroCount + 64 : std::string::npos;
  }

  std::string::size_type maxBytesBuilt(std::string::size_type length) const {
    const std::string::size_type floor = std::string::size_type(64) << 10;
    if (!limited || length > (std::string::npos - floor) / 64) {
      return std::string::npos;
    }
    return 64 * length + floor;
  }

 private:
  bool limited;
  std::string::size_type macroCount;
};

// Non-overlapping occurrences, counted the way tstrings::replace finds them.
std::string::size_type countOccurrences(const std::string& text,
                                        const std::string& key) {
  std::string::size_type count = 0;
  for (std::string::size_type pos = text.find(key); pos != std::string::npos;
       pos = text.find(key, pos + key.size())) {
    ++count;
  }
  return count;
}

// Expands one value in place, pass after pass, until a pass changes nothing.
// Returns false, leaving the value half expanded, when a limit stops it.
// Adds what it did to `work`.
bool expandValue(std::string& value, const CfgFile::Macros& macros,
                 const ExpansionLimits& limits, CfgFile::ExpansionWork& work) {
  const std::string::size_type maxChangingPasses = limits.maxChangingPasses();
  std::string::size_type budget = limits.maxBytesBuilt(value.size());
  std::string candidate;
  for (std::string::size_type changingPasses = 0;; ++changingPasses) {
    ++work.passes;
    bool replaced = false;
    for (const auto& macro : macros) {
      const std::string& text = replaced ? candidate : value;
      const std::string::size_type count =
          macro.first.empty() ? 0 : countOccurrences(text, macro.first);
      if (count == 0) {
        continue;
      }
      // Check the length against what is left of the budget before building
      // the text.
      const std::string::size_type kept =
          text.size() - count * macro.first.size();
      if (kept > budget || (!macro.second.empty() &&
                            count > (budget - kept) / macro.second.size())) {
        return false;
      }
      candidate = tstrings::replace(text, macro.first, macro.second);
      budget -= candidate.size();
      work.bytesBuilt += candidate.size();
      replaced = true;
    }
    if (!replaced || candidate == value) {
      return true;
    }
    if (changingPasses == maxChangingPasses) {
      return false;
    }
    value.swap(candidate);
  }
}

}  // namespace

CfgFile CfgFile::load(const std::string& path, LoadListener* listener) {
  // Opening a named pipe could wait for ever, and a device may never end.
  if (FileUtils::isSpecialFile(path)) {
    QUERN_THROW("Error opening \"" << path << "\" file: Not a regular file");
  }
  FileReader file;
  if (!file.open(path)) {
    QUERN_THROW("Error opening \"" << path << "\" file: " << lastCRTError());
  }
  std::istream input(&file);

  CfgFile cfgFile;
  SectionId sectionName = UnknownSection;
  Properties sectionData;
  const AddProperty addProperty(sectionName, sectionData);
  RecordedLines recordedLines;
  const PurgeSection<PropertyMap> purgeSection(sectionName, sectionData,
                                               cfgFile.sections, recordedLines);

  std::string line;
  std::string key;
  std::string value;
  int lineno = 0;
  while (std::getline(input, line)) {
    ++lineno;
    if (line.empty() || line[0] == ';') {
      continue;
    }
    if (line[0] == '[') {
      const std::string::size_type end = line.rfind(']');
      if (end == std::string::npos) {
        QUERN_THROW("Error parsing [" << path << "] file at " << lineno
                                      << ": Missing ']' character");
      }
      purgeSection(lineno, listener);
      const std::string name = line.substr(1, end - 1);
      const SectionId* id = findKnown(knownSections, name);
      sectionName = id ? *id : UnknownSection;
      if (listener) {
        listener->sectionHeader(lineno, name, id != nullptr);
      }
      continue;
    }
    splitProperty(line, key, value);
    if (listener) {
      // Told before the value is moved into the configuration.
      tellProperty(*listener, lineno, sectionName, key, value);
    }
    // The runtime is handed C strings: a recorded value with a zero byte in
    // it would reach it cut short, as a different argument.
    const bool holdsZeroByte = value.find('\0') != std::string::npos;
    const bool recorded = addProperty(key, value);
    if (recorded && holdsZeroByte) {
      QUERN_THROW("Error parsing [" << path << "] file at " << lineno
                                    << ": NUL character in the value of \""
                                    << key << "\"");
    }
    if (recorded && listener) {
      recordedLines.occurrence.push_back(lineno);
    }
  }
  if (file.readError() != 0 || !input.eof()) {
    if (file.readError() != 0) {
      errno = file.readError();
    }
    QUERN_THROW("Failed to read \""
                << path << "\" file up to the end: " << lastCRTError());
  }
  purgeSection(lineno + 1, listener);
  return cfgFile;
}

StringList CfgFile::sectionNames() {
  StringList names;
  for (const SectionId* id : knownSections) {
    names.push_back(id->name());
  }
  return names;
}

StringList CfgFile::propertyNames() {
  StringList names;
  for (const PropertyId* id : knownProperties) {
    names.push_back(id->name());
  }
  return names;
}

const CfgFile::Properties& CfgFile::getProperties(
    const Id<SectionNameTag>& section) const {
  const PropertyMap::const_iterator it = sections.find(section);
  if (it == sections.end()) {
    return emptyProperties;
  }
  return it->second;
}

CfgFile& CfgFile::setPropertyValue(const Id<SectionNameTag>& section,
                                   const Id<PropertyNameTag>& property,
                                   const StringList& values) {
  sections[section][property] = values;
  return *this;
}

StringList CfgFile::takeValues(const Id<SectionNameTag>& section,
                               const Id<PropertyNameTag>& property) {
  StringList values;
  const PropertyMap::iterator it = sections.find(section);
  if (it != sections.end()) {
    const Properties::iterator entry = it->second.find(property);
    if (entry != it->second.end()) {
      values.swap(entry->second);
    }
  }
  return values;
}

CfgFile CfgFile::expandMacros(const Macros& macros,
                              ExpansionWork* work) const& {
  CfgFile copy(*this);
  copy.expandMacrosInPlace(macros, work);
  return copy;
}

CfgFile CfgFile::expandMacros(const Macros& macros, ExpansionWork* work) && {
  expandMacrosInPlace(macros, work);
  return std::move(*this);
}

void CfgFile::expandMacrosInPlace(const Macros& macros, ExpansionWork* work) {
  const ExpansionLimits limits(macros);
  ExpansionWork unused;
  for (auto& section : sections) {
    for (auto& property : section.second) {
      for (std::string& value : property.second) {
        if (!expandValue(value, macros, limits, work ? *work : unused)) {
          QUERN_THROW("Macro expansion of \""
                      << property.first.name() << "\" in section \""
                      << section.first.name() << "\" does not settle");
        }
      }
    }
  }
}

std::string CfgFile::asString(Properties::const_reference property) {
  if (property.second.empty()) {
    return std::string();
  }
  return property.second.back();
}

std::string CfgFile::asPathList(Properties::const_reference property) {
  return tstrings::join(property.second.begin(), property.second.end(),
                        std::string(1, FileUtils::pathSeparator));
}
