#include "ConfigLint.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "FileUtils.h"
#include "Names.h"

namespace bundlecheck {

namespace {

// The "Application" keys of which the launcher uses only the last value.
bool isSingleValued(const std::string& key) {
  return key == PropertyName::mainzar.name() ||
         key == PropertyName::mainmodule.name() ||
         key == PropertyName::mainclass.name() ||
         key == PropertyName::runtime.name() ||
         key == PropertyName::splash.name();
}

std::string lineList(const std::vector<int>& lines) {
  std::string text;
  for (size_t i = 0; i != lines.size(); ++i) {
    text += (i ? ", " : "") + std::to_string(lines[i]);
  }
  return text;
}

std::string meaningHint(const std::string& meant) {
  return meant.empty() ? std::string()
                       : "; did you mean " + inQuotes(meant) + "?";
}

// At most this many findings of one kind are listed; one more says that the
// rest are not. A file that repeats one mistake a million times gets a short
// report, and the check needs no more memory than a launch.
const int listedOfOneKind = 100;

}  // namespace

ConfigLint::ConfigLint(Report& report, const CfgFile::Macros& macros)
    : report(report) {
  for (const auto& macro : macros) {
    macroKeys.push_back(macro.first);
  }
}

void ConfigLint::sectionHeader(int lineno, const std::string& name,
                               bool recognised) {
  sawHeader = true;
  if (!recognised) {
    const std::string meant = likelyMeant(name, CfgFile::sectionNames());
    if (!meant.empty() && trimmed(name) == meant) {
      add(Code::HeaderBlanks, lineno,
          "section header [" + name +
              "] holds blanks around its name, so its section is ignored; "
              "write [" +
              meant + "]");
    } else {
      add(Code::UnknownSection, lineno,
          "unrecognised section " + inQuotes(name) +
              " is ignored with all its lines" + meaningHint(meant));
    }
    return;
  }
  std::vector<int>& headers = headerLines[name];
  if (!headers.empty()) {
    add(Code::SectionRepeated, lineno,
        "section " + inQuotes(name) + " appears again (first at line " +
            std::to_string(headers.front()) + ")");
  }
  headers.push_back(lineno);
}

void ConfigLint::property(int lineno, const std::string& sectionName,
                          const std::string& key, const std::string& value,
                          PropertyOutcome outcome) {
  if (key == "\r" && value.empty()) {
    crLines.push_back(lineno);
    return;
  }
  const bool leadingBlank = !key.empty() && (key[0] == ' ' || key[0] == '\t');
  if (leadingBlank && trimmed(key).compare(0, 1, "[") == 0) {
    add(Code::HeaderBlanks, lineno,
        "section header starts with a blank, so it is read as a property "
        "line and starts no section");
    return;
  }
  switch (outcome) {
    case OutsideSection:
      if (!sawHeader) {
        add(Code::BeforeSection, lineno,
            "property " + inQuotes(key) +
                " comes before any section and is ignored");
      }
      return;
    case UnrecognisedKey: {
      const std::string meant = likelyMeant(key, CfgFile::propertyNames());
      if (leadingBlank) {
        add(Code::KeyBlanks, lineno,
            "key " + inQuotes(key) + " starts with a blank and is ignored" +
                meaningHint(meant));
      } else {
        add(Code::UnknownKey, lineno,
            "unrecognised key " + inQuotes(key) + " in section " +
                inQuotes(sectionName) + " is ignored" + meaningHint(meant));
      }
      return;
    }
    case Recorded:
      if (sectionName == SectionName::Application.name()) {
        applicationLines.push_back(Line{lineno, key});
      }
      checkValue(lineno, key, value);
      return;
  }
}

void ConfigLint::sectionReplaced(int lineno, const std::string& sectionName,
                                 const std::vector<int>& lines) {
  if (sectionName == SectionName::Application.name()) {
    applicationLines.erase(
        std::remove_if(applicationLines.begin(), applicationLines.end(),
                       [&](const Line& line) {
                         return std::binary_search(lines.begin(), lines.end(),
                                                   line.lineno);
                       }),
        applicationLines.end());
  }
  // Named at the header of the occurrence that replaces the earlier one.
  const std::vector<int>& headers = headerLines[sectionName];
  add(Code::SectionReplaced, headers.empty() ? lineno : headers.back(),
      "this occurrence of section " + inQuotes(sectionName) +
          " replaces the earlier one: the properties of line" +
          (lines.size() > 1 ? "s " : " ") + lineList(lines) + " are discarded");
}

void ConfigLint::checkConfiguration(const CfgFile& cfg) {
  checkLineEnds();
  const CfgFile::Properties& app = cfg.getProperties(SectionName::Application);
  checkRepeatedKeys();
  if (!app.count(PropertyName::mainclass) &&
      !app.count(PropertyName::mainmodule) &&
      !app.count(PropertyName::mainzar)) {
    add(Code::NoMain, 0,
        "section \"Application\" names no main class, main module or main "
        "archive (app.mainclass, app.mainmodule, app.mainzar)");
  }
  checkPaths(app, PropertyName::classpath, "class-path entry");
  checkPaths(app, PropertyName::modulepath, "module-path entry");
  const auto splash = app.find(PropertyName::splash);
  if (splash != app.end()) {
    const std::string file = CfgFile::asString(*splash);
    const int line = lastLineOf(PropertyName::splash.name());
    checkRelative(line, "splash file", file);
    if ((file.empty() || file.back() != '\r') &&
        !FileUtils::isFileExists(file)) {
      add(Code::SplashMissing, line,
          "splash file " + inQuotes(file) +
              " names nothing; the launcher starts without a splash");
    }
  }
  const auto runtime = app.find(PropertyName::runtime);
  if (runtime != app.end()) {
    checkRelative(lastLineOf(PropertyName::runtime.name()), "runtime directory",
                  CfgFile::asString(*runtime));
  }
}

void ConfigLint::add(Code code, int lineno, const std::string& message) {
  const int count = ++counts[code];
  if (count <= listedOfOneKind) {
    report.findings.push_back(
        Finding{code, report.cfgFileUsed, lineno, message});
  } else if (count == listedOfOneKind + 1) {
    report.findings.push_back(
        Finding{Code::MoreFindings, report.cfgFileUsed, lineno,
                std::string("findings [") + codeName(code) +
                    "] from here on are not listed"});
  }
}

bool ConfigLint::listing(Code code) const {
  const auto it = counts.find(code);
  return it == counts.end() || it->second <= listedOfOneKind;
}

void ConfigLint::checkValue(int lineno, const std::string& key,
                            const std::string& value) {
  if (!value.empty() && value.back() == '\r') {
    crLines.push_back(lineno);
    if (std::find(crKeys.begin(), crKeys.end(), key) == crKeys.end()) {
      crKeys.push_back(key);
    }
  } else if (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
    add(Code::ValueBlank, lineno,
        "value of " + inQuotes(key) +
            " ends with a blank or tab, which becomes part of it");
  }
  for (std::string::size_type pos = value.find('$');
       pos != std::string::npos && listing(Code::NotAMacro);
       pos = value.find('$', pos + 1)) {
    std::string::size_type end = pos + 1;
    while (end < value.size() &&
           (std::isalnum(static_cast<unsigned char>(value[end])) ||
            value[end] == '_')) {
      ++end;
    }
    if (end == pos + 1) {
      continue;
    }
    bool isMacro = false;
    for (const std::string& macro : macroKeys) {
      isMacro = isMacro || value.compare(pos, macro.size(), macro) == 0;
    }
    if (!isMacro) {
      const std::string word = value.substr(pos, end - pos);
      std::string meant = likelyMeant(word, macroKeys);
      if (meant.empty()) {
        std::string plain = word;
        plain.erase(std::remove(plain.begin(), plain.end(), '_'), plain.end());
        meant = likelyMeant(plain, macroKeys);
      }
      add(Code::NotAMacro, lineno,
          inQuotes(word) + " in the value of " + inQuotes(key) +
              " is not a macro and stays as written (macros: $APPDIR, "
              "$BINDIR, $ROOTDIR)" +
              meaningHint(meant));
    }
  }
}

std::vector<int> ConfigLint::linesOf(const std::string& key) const {
  std::vector<int> lines;
  for (const Line& line : applicationLines) {
    if (line.key == key) {
      lines.push_back(line.lineno);
    }
  }
  return lines;
}

// CR-LF line ends are one mistake, however many lines show it.
void ConfigLint::checkLineEnds() {
  if (crLines.empty()) {
    return;
  }
  const size_t listed = std::min<size_t>(crLines.size(), 20);
  std::string message =
      (crLines.size() == 1 ? "line " : "lines ") +
      lineList(std::vector<int>(crLines.begin(), crLines.begin() + listed)) +
      (listed < crLines.size() ? " and more" : "") +
      (crLines.size() == 1 ? " ends" : " end") +
      " with a carriage return (CR-LF line ends?)";
  if (!crKeys.empty()) {
    message += "; it becomes part of the value";
    for (size_t i = 0; i != crKeys.size(); ++i) {
      message += (i == 0 ? (crKeys.size() == 1 ? " of " : "s of ")
                  : i + 1 == crKeys.size() ? " and "
                                           : ", ") +
                 inQuotes(crKeys[i]);
    }
  }
  add(Code::CrLineEnds, crLines.front(), message);
}

int ConfigLint::lastLineOf(const std::string& key) const {
  const std::vector<int> lines = linesOf(key);
  return lines.empty() ? 0 : lines.back();
}

// A relative path is taken from the working directory, which the
// launcher never sets: "/" when the Finder starts the application.
void ConfigLint::checkRelative(int lineno, const std::string& what,
                               const std::string& path) {
  if (path.empty() || path[0] != '/') {
    add(Code::PathRelative, lineno,
        what + " " + inQuotes(path) +
            " is relative, so it depends on the working directory (\"/\" "
            "when the Finder starts the application" +
            (report.workingDirectory == "/"
                 ? std::string(")")
                 : "; checked from " + inQuotes(report.workingDirectory) +
                       ")"));
  }
}

void ConfigLint::checkRepeatedKeys() {
  std::set<std::string> seen;
  for (const Line& line : applicationLines) {
    if (!isSingleValued(line.key) || !seen.insert(line.key).second) {
      continue;
    }
    const std::vector<int> lines = linesOf(line.key);
    if (lines.size() > 1) {
      add(Code::KeyRepeated, lines.back(),
          inQuotes(line.key) + " is given " + std::to_string(lines.size()) +
              " times (lines " + lineList(lines) + "); only the last, line " +
              std::to_string(lines.back()) + ", counts");
    }
  }
}

// Each value of a path list may itself hold several entries.
void ConfigLint::checkPaths(
    const CfgFile::Properties& app,
    const CfgFile::Id<CfgFile::PropertyNameTag>& property,
    const std::string& what) {
  const auto it = app.find(property);
  if (it == app.end()) {
    return;
  }
  const std::vector<int> lines = linesOf(property.name());
  for (size_t i = 0; i != it->second.size(); ++i) {
    StringList entries;
    tstrings::split(entries, it->second[i],
                    std::string(1, FileUtils::pathSeparator));
    for (std::string entry : entries) {
      // "dir/*" stands for the archives in dir.
      if (entry.size() >= 2 && entry.compare(entry.size() - 2, 2, "/*") == 0) {
        entry.resize(entry.size() - 2);
      }
      if (!entry.empty()) {
        checkRelative(i < lines.size() ? lines[i] : 0, what, entry);
      }
      // An entry that ends with a CR is one of the line ends' finding.
      if (!entry.empty() && entry.back() != '\r' &&
          !FileUtils::isFileExists(entry)) {
        add(Code::PathMissing, i < lines.size() ? lines[i] : 0,
            what + " " + inQuotes(entry) + " names nothing");
      }
    }
  }
}

}  // namespace bundlecheck
