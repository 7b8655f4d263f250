#include "CfgFile.h"

#include <fstream>

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

  void operator()(const std::string& key, std::string& value) const {
    if (sectionName == UnknownSection) {
      return;
    }
    const PropertyId* id = findKnown(knownProperties, key);
    if (id) {
      sectionData[*id].push_back(std::move(value));
    }
  }

 private:
  const SectionId& sectionName;
  CfgFile::Properties& sectionData;
};

template <class PropertyMap>
class PurgeSection {
 public:
  PurgeSection(SectionId& sectionName, CfgFile::Properties& sectionData,
               PropertyMap& sections)
      : sectionName(sectionName),
        sectionData(sectionData),
        sections(sections) {}

  // Hands the collected table to the configuration, replacing what an
  // earlier occurrence of the same section stored there.
  void operator()() const {
    if (sectionName == UnknownSection || sectionData.empty()) {
      return;
    }
    sections[sectionName].swap(sectionData);
    sectionData.clear();
    sectionName = UnknownSection;
  }

 private:
  SectionId& sectionName;
  CfgFile::Properties& sectionData;
  PropertyMap& sections;
};

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

// Guard against values that never settle. A settling value can grow by at
// most what replacing its key occurrences with the macro values explains;
// nested macros are allowed a generous extra factor. A few kilobytes that
// grow without end are thus stopped after a few passes and a few
// megabytes at most.
struct ExpansionLimits {
  std::string::size_type maxLength;
  unsigned maxPasses;
};

ExpansionLimits expansionLimits(const CfgFile::Macros& macros,
                                std::string::size_type initialLength) {
  std::string::size_type minKey = std::string::npos;
  std::string::size_type maxValue = 0;
  for (const auto& macro : macros) {
    if (!macro.first.empty()) {
      minKey = std::min(minKey, macro.first.size());
      maxValue = std::max(maxValue, macro.second.size());
    }
  }
  std::string::size_type growth = 16;
  if (minKey != std::string::npos) {
    growth =
        std::max<std::string::size_type>(growth, 2 * (maxValue / minKey + 1));
  }
  const std::string::size_type oneMiB = 1 << 20;
  ExpansionLimits limits;
  limits.maxLength = (initialLength + 1) * growth + oneMiB;
  limits.maxPasses = 1000;
  return limits;
}

}  // namespace

CfgFile CfgFile::load(const std::string& path) {
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
      purgeSection();
      const SectionId* id = findKnown(knownSections, line.substr(1, end - 1));
      sectionName = id ? *id : UnknownSection;
      continue;
    }
    splitProperty(line, key, value);
    // The runtime is handed C strings: a value with a zero byte in it would
    // reach it cut short, as a different argument.
    if (value.find('\0') != std::string::npos &&
        !(sectionName == UnknownSection) && findKnown(knownProperties, key)) {
      QUERN_THROW("Error parsing [" << path << "] file at " << lineno
                                    << ": NUL character in the value of \""
                                    << key << "\"");
    }
    addProperty(key, value);
  }
  if (!input.eof()) {
    QUERN_THROW("Failed to read \""
                << path << "\" file up to the end: " << lastCRTError());
  }
  purgeSection();
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
  for (auto& section : sections) {
    for (auto& property : section.second) {
      for (std::string& value : property.second) {
        // A value holding no key is already settled: the passes below would
        // end at once with it unchanged.
        bool holdsKey = false;
        for (const auto& macro : macros) {
          if (!macro.first.empty() &&
              value.find(macro.first) != std::string::npos) {
            holdsKey = true;
            break;
          }
        }
        if (!holdsKey) {
          continue;
        }
        const ExpansionLimits limits = expansionLimits(macros, value.size());
        for (unsigned pass = 0;; ++pass) {
          std::string candidate = value;
          for (const auto& macro : macros) {
            candidate = tstrings::replace(candidate, macro.first, macro.second);
            if (candidate.size() > limits.maxLength) {
              break;
            }
          }
          if (candidate == value) {
            break;
          }
          if (candidate.size() > limits.maxLength || pass >= limits.maxPasses) {
            QUERN_THROW("Macro expansion of \""
                        << property.first.name() << "\" in section \""
                        << section.first.name() << "\" does not settle");
          }
          value.swap(candidate);
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
