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

// The parser's rule for a section that appears again, replayed: which
// recorded lines each section keeps in the end.
class SectionReplay {
 public:
  struct Line {
    int lineno;
    std::string key;
  };

  // A section header; `section` is empty for one the parser ignores.
  void header(const std::string& section);
  void recorded(int lineno, const std::string& key);
  // The occurrence being read replaces the earlier one of its section;
  // returns the lines that held.
  std::vector<int> replace(const std::string& section);
  // The end of the file.
  void end() { header(std::string()); }

  // The kept lines of the "Application" section, and those of one key.
  const std::vector<Line>& application() const;
  std::vector<int> linesOf(const std::string& key) const;

 private:
  std::string section;           // the recognised section being read
  std::vector<Line> occurrence;  // its recorded lines so far
  std::map<std::string, std::vector<Line>> kept;
};

class ConfigLint : public CfgFile::LoadListener {
 public:
  // Findings go to `report`, naming the file `report.cfgFileUsed`.
  ConfigLint(Report& report, const CfgFile::Macros& macros);

  void sectionHeader(int lineno, const std::string& name,
                     bool recognised) override;
  void property(int lineno, const std::string& sectionName,
                const std::string& key, const std::string& value,
                PropertyOutcome outcome) override;
  void sectionReplaced(int lineno, const std::string& sectionName) override;

  // The configuration after macro expansion and the command line.
  void checkConfiguration(const CfgFile& cfg);

 private:
  void add(Code code, int lineno, const std::string& message);
  bool listing(Code code) const;
  void checkValue(int lineno, const std::string& key, const std::string& value);
  int lastLineOf(const std::string& key) const;
  void checkRelative(int lineno, const std::string& what,
                     const std::string& path);
  void checkRepeatedKeys();
  void checkPaths(const CfgFile::Properties& app,
                  const CfgFile::Id<CfgFile::PropertyNameTag>& property,
                  const std::string& what);

  Report& report;
  std::vector<std::string> macroKeys;
  bool sawHeader = false;
  SectionReplay replay;
  std::map<std::string, std::vector<int>> headerLines;
  std::map<Code, int> counts;  // findings of each kind
};

}  // namespace bundlecheck

#endif  // BUNDLECHECK_CONFIGLINT_H
