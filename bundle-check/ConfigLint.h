// Findings about a launcher configuration: its lines as the parser meets
// them (unknown sections and keys, blanks, carriage returns, words that are
// no macro), and then the whole configuration as the launcher will use it
// (main class, paths, repeated keys).

#ifndef BUNDLECHECK_CONFIGLINT_H
#define BUNDLECHECK_CONFIGLINT_H

#include <map>
#include <string>
#include <vector>

#include "CfgFile.h"
#include "Report.h"

namespace bundlecheck {

class ConfigLint : public CfgFile::LoadListener {
 public:
  // Findings go to `report`, naming the file `report.cfgFileUsed`.
  ConfigLint(Report& report, const CfgFile::Macros& macros);

  void sectionHeader(int lineno, const std::string& name,
                     bool recognised) override;
  void property(int lineno, const std::string& sectionName,
                const std::string& key, const std::string& value,
                PropertyOutcome outcome) override;
  void sectionReplaced(int lineno, const std::string& sectionName,
                       const std::vector<int>& discarded) override;

  // The configuration after macro expansion and the command line.
  void checkConfiguration(const CfgFile& cfg);

 private:
  void add(Code code, int lineno, const std::string& message);
  bool listing(Code code) const;
  void checkValue(int lineno, const std::string& key, const std::string& value);
  std::vector<int> linesOf(const std::string& key) const;
  int lastLineOf(const std::string& key) const;
  void checkRelative(int lineno, const std::string& what,
                     const std::string& path);
  void checkRepeatedKeys();
  void checkLineEnds();
  void checkPaths(const CfgFile::Properties& app,
                  const CfgFile::Id<CfgFile::PropertyNameTag>& property,
                  const std::string& what);

  Report& report;
  std::vector<std::string> macroKeys;
  bool sawHeader = false;
  // The recorded lines of section "Application" that the configuration
  // holds, in file order.
  struct Line {
    int lineno;
    std::string key;
  };
  std::vector<Line> applicationLines;
  std::map<std::string, std::vector<int>> headerLines;
  std::vector<int> crLines;         // that end with a carriage return
  std::vector<std::string> crKeys;  // whose values end with one
  std::map<Code, int> counts;       // findings of each kind
};

}  // namespace bundlecheck

#endif  // BUNDLECHECK_CONFIGLINT_H
