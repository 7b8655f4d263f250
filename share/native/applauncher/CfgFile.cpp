#include "CfgFile.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "ErrorHandling.h"
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

template <class PropertyMap>
class PurgeSection {
  typedef CfgFile::Properties Properties;

 public:
  PurgeSection(SectionId& sectionName, CfgFile::Properties& sectionData,
               PropertyMap& sections)
      : sectionName(sectionName),
        sectionData(sectionData),
        sections(sections) {}

  // Hands the collected table to the configuration, replacing what an
  // earlier occurrence of the same section stored there. `lineno` is the
  // line after the section's last one, for the listener.
  void operator()(int lineno, CfgFile::LoadListener* listener) const {
    if (sectionName == UnknownSection || sectionData.empty()) {
      return;
    }
    Properties& stored = sections[sectionName];
    if (listener && !stored.empty()) {
      listener->sectionReplaced(lineno, sectionName.name());
    }
    stored.swap(sectionData);
    sectionData.clear();
    sectionName = UnknownSection;
  }

 private:
  SectionId& sectionName;
  CfgFile::Properties& sectionData;
  PropertyMap& sections;
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

// What expandMacros needs to know about the macro table to tell a value
// that is still settling from one that never will.
class ExpansionGuard {
 public:
  explicit ExpansionGuard(const CfgFile::Macros& macros)
      : macroCount(macros.size()),
        longestValue(0),
        replacementsEatTheValue(everyReplacementEatsTheValue(macros)) {
    for (const auto& macro : macros) {
      if (!macro.first.empty()) {
        longestValue = std::max(longestValue, macro.second.size());
      }
    }
    findSelfFeedingKeys(macros);
  }

  // True when `text` holds a key that, as explained below, makes every
  // further pass longer than the one before.
  bool neverSettles(const std::string& text) const {
    for (const std::string* key : selfFeedingKeys) {
      if (text.find(*key) != std::string::npos) {
        return true;
      }
    }
    return false;
  }

  // Limits for a value of `length` bytes before expansion. When every
  // replacement eats a byte of the value as written (see below), a value
  // takes at most `length` replacements in all, so it settles after at most
  // `length` changing passes and never holds more than its own bytes plus
  // `length` macro values: these limits never stop it. Otherwise values
  // that settle need about one pass per link of a chain of macros that name
  // each other; a few dozen passes more are left for keys made up of text
  // from both sides of a replacement.
  std::string::size_type maxLength(std::string::size_type length) const {
    const std::string::size_type factor = longestValue + 1;
    if (length + 1 > std::string::npos / factor) {
      return std::string::npos;
    }
    return (length + 1) * factor;
  }
  std::string::size_type maxChangingPasses(
      std::string::size_type length) const {
    return (replacementsEatTheValue ? length : 64) + macroCount + 1;
  }

 private:
  // A key is self-feeding when its value is longer than the key and holds
  // another self-feeding key (or itself). When no two key occurrences can
  // ever overlap, an occurrence stays intact until its own key replaces it;
  // when moreover no value is shorter than its key, a text that holds a
  // self-feeding key holds one again after every pass and gets longer with
  // every pass, so it never settles. An application directory that contains
  // "$APPDIR" is stopped that way before it grows at all.
  void findSelfFeedingKeys(const CfgFile::Macros& macros) {
    std::vector<const CfgFile::Macros::value_type*> candidates;
    for (const auto& macro : macros) {
      if (macro.first.empty()) {
        continue;
      }
      if (macro.second.size() < macro.first.size()) {
        return;
      }
      if (macro.second.size() > macro.first.size()) {
        candidates.push_back(&macro);
      }
    }
    if (!keysNeverOverlap(macros)) {
      return;
    }
    // Drop the keys whose value holds no remaining candidate until none is
    // dropped.
    for (bool dropped = true; dropped;) {
      dropped = false;
      for (auto it = candidates.begin(); it != candidates.end();) {
        bool feeds = false;
        for (const auto* other : candidates) {
          if ((*it)->second.find(other->first) != std::string::npos) {
            feeds = true;
            break;
          }
        }
        if (feeds) {
          ++it;
        } else {
          it = candidates.erase(it);
          dropped = true;
        }
      }
    }
    for (const auto* macro : candidates) {
      selfFeedingKeys.push_back(&macro->first);
    }
  }

  // Holds when every key occurrence that a pass can replace takes at least
  // one byte of the value as written with it. That is so when no macro value
  // holds the first byte of a key, so every occurrence starts in the written
  // text, and also when no macro value holds a key and each one starts with
  // a byte that no key holds but in its first place: then no occurrence can
  // begin in front of an inserted value and reach into it, and what is left
  // of an inserted value is always a beginning of it, holding no key. The
  // launcher's macro values are absolute paths, starting with "/".
  static bool everyReplacementEatsTheValue(const CfgFile::Macros& macros) {
    bool keyStartsInValues = false;
    bool valuesStartClear = true;
    for (const auto& key : macros) {
      if (key.first.empty()) {
        continue;
      }
      for (const auto& macro : macros) {
        const std::string& value = macro.second;
        if (macro.first.empty() || value.empty()) {
          continue;
        }
        if (value.find(key.first[0]) != std::string::npos) {
          keyStartsInValues = true;
        }
        if (value.find(key.first) != std::string::npos ||
            key.first.find(value[0], 1) != std::string::npos) {
          valuesStartClear = false;
        }
      }
    }
    return !keyStartsInValues || valuesStartClear;
  }

  // No key ends with the beginning of a key (itself included) and no key
  // holds another one.
  static bool keysNeverOverlap(const CfgFile::Macros& macros) {
    for (const auto& a : macros) {
      for (const auto& b : macros) {
        const std::string& first = a.first;
        const std::string& second = b.first;
        if (first.empty() || second.empty()) {
          continue;
        }
        if (&a != &b && second.find(first) != std::string::npos) {
          return false;
        }
        for (std::string::size_type i = 1; i < first.size(); ++i) {
          if (second.compare(0, first.size() - i, first, i,
                             std::string::npos) == 0) {
            return false;
          }
        }
      }
    }
    return true;
  }

  std::string::size_type macroCount;
  std::string::size_type longestValue;
  bool replacementsEatTheValue;
  std::vector<const std::string*> selfFeedingKeys;
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
// Returns false, leaving the value half expanded, when it can be seen not to
// settle or goes past the guard's limits.
bool expandValue(std::string& value, const CfgFile::Macros& macros,
                 const ExpansionGuard& guard) {
  const std::string::size_type maxLength = guard.maxLength(value.size());
  const std::string::size_type maxPasses =
      guard.maxChangingPasses(value.size());
  // A value that comes back to a text it had before goes round forever. A
  // copy taken after 1, 2, 4, 8... passes meets any cycle once the copy is
  // inside it and the cycle is no longer than the distance to the next
  // copy. Before the first copy the earlier text is the value as given,
  // which the first pass has just been found to differ from: most values
  // settle at once and are never copied.
  std::string earlier;
  std::string::size_type sinceEarlier = 0;
  std::string::size_type nextCopy = 1;

  std::string candidate;
  for (std::string::size_type passes = 0;; ++passes) {
    if (guard.neverSettles(value)) {
      return false;
    }
    bool replaced = false;
    for (const auto& macro : macros) {
      const std::string& text = replaced ? candidate : value;
      const std::string::size_type count =
          macro.first.empty() ? 0 : countOccurrences(text, macro.first);
      if (count == 0) {
        continue;
      }
      // Check the length before building the longer text.
      const std::string::size_type kept =
          text.size() - count * macro.first.size();
      if (kept > maxLength ||
          (!macro.second.empty() &&
           count > (maxLength - kept) / macro.second.size())) {
        return false;
      }
      candidate = tstrings::replace(text, macro.first, macro.second);
      replaced = true;
    }
    if (!replaced || candidate == value) {
      return true;
    }
    if (passes >= maxPasses || (passes > 0 && candidate == earlier)) {
      return false;
    }
    value.swap(candidate);
    if (++sinceEarlier == nextCopy) {
      earlier = value;
      sinceEarlier = 0;
      nextCopy *= 2;
    }
  }
}

}  // namespace

CfgFile CfgFile::load(const std::string& path, LoadListener* listener) {
  // Opening a named pipe could wait for ever, and a device may never end.
  if (FileUtils::isSpecialFile(path)) {
    QUERN_THROW("Error opening \"" << path << "\" file: Not a regular file");
  }
  std::ifstream input(path.c_str());
  if (!input.good()) {
    QUERN_THROW("Error opening \"" << path << "\" file: " << lastCRTError());
  }

  CfgFile cfgFile;
  SectionId sectionName = UnknownSection;
  Properties sectionData;
  const AddProperty addProperty(sectionName, sectionData);
  const PurgeSection<PropertyMap> purgeSection(sectionName, sectionData,
                                               cfgFile.sections);

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
    if (addProperty(key, value) && holdsZeroByte) {
      QUERN_THROW("Error parsing [" << path << "] file at " << lineno
                                    << ": NUL character in the value of \""
                                    << key << "\"");
    }
  }
  if (!input.eof()) {
    QUERN_THROW("Failed to read \""
                << path << "\" file up to the end: " << lastCRTError());
  }
  purgeSection(lineno + 1, listener);
  return cfgFile;
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

CfgFile CfgFile::expandMacros(const Macros& macros) const& {
  CfgFile copy(*this);
  copy.expandMacrosInPlace(macros);
  return copy;
}

CfgFile CfgFile::expandMacros(const Macros& macros) && {
  expandMacrosInPlace(macros);
  return std::move(*this);
}

void CfgFile::expandMacrosInPlace(const Macros& macros) {
  const ExpansionGuard guard(macros);
  for (auto& section : sections) {
    for (auto& property : section.second) {
      for (std::string& value : property.second) {
        if (!expandValue(value, macros, guard)) {
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
