// The launcher configuration: sections of multi-valued properties, read from
// the application's ".cfg" file, macro-expanded and read by the launch
// description.
//
// Sections and properties are named by typed identifiers, so a section can
// never be used where a property is meant. Reading is total: a section the
// file lacks reads as an empty table.

#ifndef CFGFILE_H
#define CFGFILE_H

#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tstrings.h"

class CfgFile {
 public:
  // An identifier wraps a name with static storage that it does not own.
  // Identity is the name's text, not the pointer.
  template <class Tag>
  class Id {
   public:
    constexpr explicit Id(const char* name) : str(name) {}

    std::string name() const { return std::string(str); }

    bool operator<(const Id& other) const {
      return std::strcmp(str, other.str) < 0;
    }
    bool operator==(const Id& other) const {
      return std::strcmp(str, other.str) == 0;
    }

   private:
    const char* str;
  };

  class SectionNameTag {};
  class PropertyNameTag {};

  typedef std::map<Id<PropertyNameTag>, StringList> Properties;
  typedef std::map<std::string, std::string> Macros;

  // Told what load() makes of each line, for tools that explain a
  // configuration to its author. Line numbers count from 1; blank lines and
  // comments are not reported. The launcher itself passes no listener.
  class LoadListener {
   public:
    enum PropertyOutcome {
      Recorded,         // stored under a recognised section and key
      UnrecognisedKey,  // in a recognised section, a key it does not have
      OutsideSection    // before any section, or in an unrecognised one
    };

    virtual ~LoadListener() = default;

    // A header line; `name` is the text between "[" and the last "]".
    virtual void sectionHeader(int lineno, const std::string& name,
                               bool recognised) = 0;
    // A property line, split into key and value. `section` is the recognised
    // section it belongs to, empty for OutsideSection.
    virtual void property(int lineno, const std::string& section,
                          const std::string& key, const std::string& value,
                          PropertyOutcome outcome) = 0;
    // The properties of the occurrence of `section` that ends at `lineno`
    // (the line after its last line) replace everything an earlier
    // occurrence recorded: the properties of the `discarded` lines, in
    // file order.
    virtual void sectionReplaced(int lineno, const std::string& section,
                                 const std::vector<int>& discarded) = 0;
  };

  // Reads a configuration file, telling `listener` (if any) about each line.
  // Throws on a file that cannot be opened or read to its end, and on a
  // section header without "]".
  static CfgFile load(const std::string& path,
                      LoadListener* listener = nullptr);

  // The names of the recognised sections and properties, for tools that
  // explain a configuration.
  static StringList sectionNames();
  static StringList propertyNames();

  // The section's properties, or an empty table; never creates an entry.
  const Properties& getProperties(const Id<SectionNameTag>& section) const;

  // The property's list becomes a copy of `values`; creates the section and
  // the property when absent.
  CfgFile& setPropertyValue(const Id<SectionNameTag>& section,
                            const Id<PropertyNameTag>& property,
                            const StringList& values);

  // Moves the property's values out and returns them, leaving the property
  // with an empty list; an absent section or property gives an empty list
  // and creates nothing.
  StringList takeValues(const Id<SectionNameTag>& section,
                        const Id<PropertyNameTag>& property);

  // What expandMacros did, added up over the values it expanded (up to the
  // refusal, if one is refused): for checking its cost.
  struct ExpansionWork {
    // Passes over the values, each settled value's last pass, which changes
    // nothing, included.
    std::size_t passes = 0;
    // The total length of the texts that replacements built.
    std::size_t bytesBuilt = 0;
  };

  // A copy in which every value has every macro key replaced by its value,
  // repeatedly, until a pass changes nothing; this object stays unchanged.
  // Throws, naming the section and the property, when a value does not
  // settle within the limits explained in CfgFile.cpp. Macro values that
  // start with a byte no key holds (or are empty) and hold no key, as the
  // launcher's paths do, need no limit: every value settles under them.
  // Adds its work to `work` when given.
  CfgFile expandMacros(const Macros& macros,
                       ExpansionWork* work = nullptr) const&;
  // The same for a configuration about to be discarded: its values are
  // expanded where they are, without a copy.
  CfgFile expandMacros(const Macros& macros, ExpansionWork* work = nullptr) &&;

  // The last value; the empty string for an empty list.
  static std::string asString(Properties::const_reference property);

  // All values joined with FileUtils::pathSeparator.
  static std::string asPathList(Properties::const_reference property);

 private:
  typedef std::map<Id<SectionNameTag>, Properties> PropertyMap;

  void expandMacrosInPlace(const Macros& macros, ExpansionWork* work);

  PropertyMap sections;
  Properties emptyProperties;
};

namespace SectionName {
extern const CfgFile::Id<CfgFile::SectionNameTag> Application;
extern const CfgFile::Id<CfgFile::SectionNameTag> ZealOptions;
extern const CfgFile::Id<CfgFile::SectionNameTag> PrewarmZealOptions;
extern const CfgFile::Id<CfgFile::SectionNameTag>
    PrewarmGenerateCacheZealOptions;
extern const CfgFile::Id<CfgFile::SectionNameTag> ArgOptions;
}  // namespace SectionName

namespace PropertyName {
extern const CfgFile::Id<CfgFile::PropertyNameTag> version;
extern const CfgFile::Id<CfgFile::PropertyNameTag> mainzar;
extern const CfgFile::Id<CfgFile::PropertyNameTag> mainmodule;
extern const CfgFile::Id<CfgFile::PropertyNameTag> mainclass;
extern const CfgFile::Id<CfgFile::PropertyNameTag> classpath;
extern const CfgFile::Id<CfgFile::PropertyNameTag> modulepath;
extern const CfgFile::Id<CfgFile::PropertyNameTag> runtime;
extern const CfgFile::Id<CfgFile::PropertyNameTag> splash;
extern const CfgFile::Id<CfgFile::PropertyNameTag> memory;
extern const CfgFile::Id<CfgFile::PropertyNameTag> arguments;
extern const CfgFile::Id<CfgFile::PropertyNameTag> zealOptions;
}  // namespace PropertyName

#endif  // CFGFILE_H
