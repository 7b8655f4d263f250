#include "BundleInspection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "AppLauncher.h"
#include "CfgFile.h"
#include "Dll.h"
#include "FileUtils.h"
#include "InfoPlist.h"
#include "LauncherVersion.h"
#include "LibraryFile.h"
#include "Log.h"
#include "MacAppLauncher.h"
#include "Names.h"
#include "SysInfo.h"
#include "ZvmLauncher.h"
#include "app.h"

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

std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }

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

// Collects what the launcher's own code decides, step by step, and the
// findings about the configuration's lines and values.
class Collector : public AppLauncher::Listener, public CfgFile::LoadListener {
 public:
  Collector(Report& report, const CfgFile::Macros& macros) : report(report) {
    for (const auto& macro : macros) {
      macroKeys.push_back(macro.first);
    }
  }

  void cfgFileCandidate(const std::string& path, bool exists) override {
    report.cfgCandidates.push_back(PathCheck{path, exists});
  }

  CfgFile::LoadListener* cfgFileLoading(const std::string& path) override {
    report.cfgFileUsed = path;
    return this;
  }

  void sectionHeader(int lineno, const std::string& name,
                     bool recognised) override {
    endOccurrence();
    sawHeader = true;
    section = recognised ? name : std::string();
    if (!recognised) {
      const std::string meant = likelyMeant(name, CfgFile::sectionNames());
      if (!meant.empty() && trimmed(name) == meant) {
        add("header-blanks", lineno,
            "section header [" + name +
                "] holds blanks around its name, so its section is ignored; "
                "write [" +
                meant + "]");
      } else {
        add("unknown-section", lineno,
            "unrecognised section " + inQuotes(name) +
                " is ignored with all its lines" + meaningHint(meant));
      }
      return;
    }
    std::vector<int>& headers = headerLines[name];
    if (!headers.empty()) {
      add("section-repeated", lineno,
          "section " + inQuotes(name) + " appears again (first at line " +
              std::to_string(headers.front()) + ")");
    }
    headers.push_back(lineno);
  }

  void property(int lineno, const std::string& sectionName,
                const std::string& key, const std::string& value,
                PropertyOutcome outcome) override {
    if (key == "\r" && value.empty()) {
      add("cr-line", lineno,
          "line holds only a carriage return (CR-LF line ends?)");
      return;
    }
    const bool leadingBlank = !key.empty() && (key[0] == ' ' || key[0] == '\t');
    if (leadingBlank && trimmed(key).compare(0, 1, "[") == 0) {
      add("header-blanks", lineno,
          "section header starts with a blank, so it is read as a property "
          "line and starts no section");
      return;
    }
    switch (outcome) {
      case OutsideSection:
        if (!sawHeader) {
          add("before-section", lineno,
              "property " + inQuotes(key) +
                  " comes before any section and is ignored");
        }
        return;
      case UnrecognisedKey: {
        const std::string meant = likelyMeant(key, CfgFile::propertyNames());
        if (leadingBlank) {
          add("key-blanks", lineno,
              "key " + inQuotes(key) + " starts with a blank and is ignored" +
                  meaningHint(meant));
        } else {
          add("unknown-key", lineno,
              "unrecognised key " + inQuotes(key) + " in section " +
                  inQuotes(sectionName) + " is ignored" + meaningHint(meant));
        }
        return;
      }
      case Recorded:
        occurrence.push_back(Line{lineno, key});
        checkValue(lineno, key, value);
        return;
    }
  }

  void sectionReplaced(int lineno, const std::string& sectionName) override {
    std::vector<Line>& earlier = kept[sectionName];
    std::vector<int> lines;
    for (const Line& line : earlier) {
      lines.push_back(line.lineno);
    }
    // Named at the header of the occurrence that replaces the earlier one.
    const std::vector<int>& headers = headerLines[sectionName];
    add("section-replaced", headers.empty() ? lineno : headers.back(),
        "this occurrence of section " + inQuotes(sectionName) +
            " replaces the earlier one: the properties of line" +
            (lines.size() > 1 ? "s " : " ") + lineList(lines) +
            " are discarded");
    earlier = std::move(occurrence);
    occurrence.clear();
  }

  void cfgFileReady(const CfgFile& cfg) override {
    endOccurrence();
    const CfgFile::Properties& app =
        cfg.getProperties(SectionName::Application);
    checkRepeatedKeys();
    if (!app.count(PropertyName::mainclass) &&
        !app.count(PropertyName::mainmodule) &&
        !app.count(PropertyName::mainzar)) {
      add("no-main", 0,
          "section \"Application\" names no main class, main module or main "
          "archive (app.mainclass, app.mainmodule, app.mainzar)");
    }
    checkPaths(app, PropertyName::classpath, "class-path entry");
    checkPaths(app, PropertyName::modulepath, "module-path entry");
    const auto splash = app.find(PropertyName::splash);
    if (splash != app.end()) {
      const std::string file = CfgFile::asString(*splash);
      if (!FileUtils::isFileExists(file)) {
        const std::vector<int> lines = linesOf(PropertyName::splash.name());
        add("splash-missing", lines.empty() ? 0 : lines.back(),
            "splash file " + inQuotes(file) +
                " names nothing; the launcher starts without a splash");
      }
    }
  }

  void runtimeDir(const std::string& dir, bool configured) override {
    report.runtimeDir = dir;
    report.runtimeDirConfigured = configured;
  }

  void zvmLibCandidate(const std::string& path, bool exists) override {
    report.libCandidates.push_back(PathCheck{path, exists});
  }

 private:
  struct Line {
    int lineno;
    std::string key;
  };

  // At most this many findings of one kind are listed; one more says that
  // the rest are not. A file that repeats one mistake a million times gets
  // a short report, and the check needs no more memory than a launch.
  static const int listedOfOneKind = 100;

  void add(const std::string& code, int lineno, const std::string& message) {
    const int count = ++counts[code];
    if (count <= listedOfOneKind) {
      report.findings.push_back(
          Finding{code, report.cfgFileUsed, lineno, message});
    } else if (count == listedOfOneKind + 1) {
      report.findings.push_back(
          Finding{"more-findings", report.cfgFileUsed, lineno,
                  "findings [" + code + "] from here on are not listed"});
    }
  }

  bool listing(const std::string& code) const {
    const auto it = counts.find(code);
    return it == counts.end() || it->second <= listedOfOneKind;
  }

  // The recorded lines of the section's occurrence that ends here are kept
  // unless a later occurrence replaces them (sectionReplaced).
  void endOccurrence() {
    if (!occurrence.empty()) {
      kept[section] = std::move(occurrence);
      occurrence.clear();
    }
  }

  void checkValue(int lineno, const std::string& key,
                  const std::string& value) {
    if (!value.empty() && value.back() == '\r') {
      add("value-cr", lineno,
          "value of " + inQuotes(key) +
              " ends with a carriage return, which becomes part of it "
              "(CR-LF line ends?)");
    } else if (!value.empty() &&
               (value.back() == ' ' || value.back() == '\t')) {
      add("value-blank", lineno,
          "value of " + inQuotes(key) +
              " ends with a blank or tab, which becomes part of it");
    }
    for (std::string::size_type pos = value.find('$');
         pos != std::string::npos && listing("not-a-macro");
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
          plain.erase(std::remove(plain.begin(), plain.end(), '_'),
                      plain.end());
          meant = likelyMeant(plain, macroKeys);
        }
        add("not-a-macro", lineno,
            inQuotes(word) + " in the value of " + inQuotes(key) +
                " is not a macro and stays as written (macros: $APPDIR, "
                "$BINDIR, $ROOTDIR)" +
                meaningHint(meant));
      }
    }
  }

  std::vector<int> linesOf(const std::string& key) const {
    std::vector<int> lines;
    const auto it = kept.find(SectionName::Application.name());
    if (it != kept.end()) {
      for (const Line& line : it->second) {
        if (line.key == key) {
          lines.push_back(line.lineno);
        }
      }
    }
    return lines;
  }

  void checkRepeatedKeys() {
    std::set<std::string> seen;
    const auto it = kept.find(SectionName::Application.name());
    if (it == kept.end()) {
      return;
    }
    for (const Line& line : it->second) {
      if (!isSingleValued(line.key) || !seen.insert(line.key).second) {
        continue;
      }
      const std::vector<int> lines = linesOf(line.key);
      if (lines.size() > 1) {
        add("key-repeated", lines.back(),
            inQuotes(line.key) + " is given " + std::to_string(lines.size()) +
                " times (lines " + lineList(lines) + "); only the last, line " +
                std::to_string(lines.back()) + ", counts");
      }
    }
  }

  // Each value of a path list may itself hold several entries.
  void checkPaths(const CfgFile::Properties& app,
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
        if (entry.size() >= 2 &&
            entry.compare(entry.size() - 2, 2, "/*") == 0) {
          entry.resize(entry.size() - 2);
        }
        if (!entry.empty() && !FileUtils::isFileExists(entry)) {
          add("path-missing", i < lines.size() ? lines[i] : 0,
              what + " " + inQuotes(entry) + " names nothing");
        }
      }
    }
  }

  Report& report;
  std::vector<std::string> macroKeys;
  bool sawHeader = false;
  std::string section;           // the recognised section being read
  std::vector<Line> occurrence;  // its recorded lines so far
  std::map<std::string, std::vector<Line>> kept;  // what each section keeps
  std::map<std::string, std::vector<int>> headerLines;
  std::map<std::string, int> counts;  // findings of each kind
};

// Receives the report of a failed pass from the launcher's run frame and
// keeps the line the launcher prints.
class ErrorLineAppender : public LogAppender {
 public:
  void append(const LogEvent&) override { line = app::lastErrorMessage(); }
  std::string line;
};

// The work of the launcher's first pass for the checked bundle; run inside
// app::launch, which reports its failure as the launcher does.
struct Work {
  const Options* options;
  std::string launcherPath;
  Report* report;
};
Work* work = nullptr;

std::string homeDir() {
  switch (work->options->homeMode) {
    case Options::HomeGiven:
      return work->options->homeDir;
    case Options::NoHome:
      return std::string();
    case Options::HomeFromEnvironment:
      break;
  }
  return SysInfo::getEnvVariable(std::nothrow, "HOME", "");
}

void firstPass() {
  Report& report = *work->report;
  // The path as the launcher finds its own: one link resolved, absolute.
  std::vector<char> given(work->launcherPath.begin(), work->launcherPath.end());
  given.push_back('\0');
  const std::string launcherPath =
      FileUtils::toAbsolutePath(SysInfo::getRealPath(given));

  // The arguments as the launcher reads them from its command line.
  std::vector<std::string> argStore{launcherPath};
  argStore.insert(argStore.end(), work->options->args.begin(),
                  work->options->args.end());
  std::vector<char*> argv;
  for (std::string& arg : argStore) {
    argv.push_back(&arg[0]);
  }
  argv.push_back(nullptr);
  SysInfo::argc = static_cast<int>(argStore.size());
  SysInfo::argv = argv.data();
  const StringList args = SysInfo::getCommandArgs(SysInfo::WithoutProgramName);
  SysInfo::argc = 0;
  SysInfo::argv = nullptr;

  report.packageFilePath = FileUtils::combinePath(
      MacAppLauncher::BundleLayout(launcherPath).appDir, ".package");
  report.packageFileExists = FileUtils::isFileExists(report.packageFilePath);
  AppLauncher appLauncher =
      MacAppLauncher::create(launcherPath, args, homeDir, &report.packageName);
  Collector collector(report, appLauncher.getMacros());
  appLauncher.setListener(&collector);
  const std::unique_ptr<Zvm> zvm(appLauncher.createZvmLauncher());

  report.libPath = zvm->getLibPath();
  for (size_t i = 0; i != zvm->getEnvNames().size(); ++i) {
    report.environment.emplace_back(zvm->getEnvNames()[i],
                                    zvm->getEnvValues()[i]);
  }
  report.arguments = zvm->getArgs();

  const LibraryHeader header = readLibraryHeader(report.libPath);
  report.libFormat = header.description;
  if (!isForThisMachine(header)) {
    report.findings.push_back(Finding{
        header.sharedLibrary ? "runtime-wrong-machine" : "runtime-not-library",
        report.libPath, 0,
        "runtime library is " + header.description + ", not " +
            expectedLibraryFormat()});
  }

  if (work->options->loadRuntime) {
    report.loadAttempted = true;
    // Opened and its entry point looked up as the launcher does; nothing of
    // it is called.
    const DllFunction<void*> zliLaunch(Dll(tstrings::any(report.libPath)),
                                       tstrings::any("ZLI_Launch"));
    // The conversion throws, as in the launcher, for a missing entry point.
    static_cast<void>(static_cast<void*>(zliLaunch));
    report.loaded = true;
  }
}

// Contents/MacOS/<bundle name without ".app">, or the only file there.
std::string findLauncher(const std::string& bundle) {
  const std::string macOS = FileUtils::combinePath(bundle, "Contents/MacOS");
  std::string name =
      FileUtils::basename(FileUtils::removeTrailingSlash(bundle));
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0) {
    name.resize(name.size() - 4);
  }
  const std::string byName = FileUtils::combinePath(macOS, name);
  if (FileUtils::isFileExists(byName)) {
    return byName;
  }
  std::error_code error;
  std::vector<std::string> entries;
  for (std::filesystem::directory_iterator it(macOS, error), end;
       !error && it != end && entries.size() < 2; it.increment(error)) {
    entries.push_back(it->path().filename().string());
  }
  if (entries.size() == 1) {
    return FileUtils::combinePath(macOS, entries[0]);
  }
  return byName;
}

void checkInfoPlist(Report& report) {
  report.infoPlistPath =
      FileUtils::combinePath(report.bundle, "Contents/Info.plist");
  const InfoPlist plist = readInfoPlist(report.infoPlistPath);
  report.infoPlistFormat = plist.format;
  report.bundleExecutable = plist.bundleExecutable;
  report.bundlePackageType = plist.bundlePackageType;
  auto add = [&](const std::string& code, const std::string& message) {
    report.findings.push_back(Finding{code, report.infoPlistPath, 0, message});
  };
  if (plist.format == "missing") {
    add("plist-missing", "the bundle has no Contents/Info.plist");
    return;
  }
  // A binary property list is as good as an XML one; it is only not read.
  if (plist.format == "binary") {
    return;
  }
  if (plist.format != "xml") {
    add("plist-not-read",
        "not read: " + plist.format + " (only XML property lists are checked)");
    return;
  }
  const std::string name = FileUtils::basename(report.launcherPath);
  if (plist.bundleExecutable != name) {
    add("plist-executable",
        plist.bundleExecutable
            ? "CFBundleExecutable is " + inQuotes(*plist.bundleExecutable) +
                  ", not the launcher's file name " + inQuotes(name)
            : "CFBundleExecutable is missing; the launcher's file name is " +
                  inQuotes(name));
  }
  if (plist.bundlePackageType != std::string("APPL")) {
    add("plist-package-type",
        plist.bundlePackageType
            ? "CFBundlePackageType is " + inQuotes(*plist.bundlePackageType) +
                  ", not \"APPL\""
            : "CFBundlePackageType is missing; an application has \"APPL\"");
  }
}

}  // namespace

Report inspect(const Options& options) {
  Report report;
  report.bundle = options.bundle;

  struct stat st;
  if (stat(options.bundle.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    report.error = "No bundle directory at " + inQuotes(options.bundle);
    return report;
  }

  report.launcherPath = findLauncher(options.bundle);
  report.launcherExists = stat(report.launcherPath.c_str(), &st) == 0;
  report.launcherIsRegularFile = report.launcherExists && S_ISREG(st.st_mode);
  report.launcherIsExecutable = report.launcherIsRegularFile &&
                                access(report.launcherPath.c_str(), X_OK) == 0;
  if (report.launcherIsRegularFile) {
    report.launcherVersion = launcherVersion(report.launcherPath);
  }
  checkInfoPlist(report);
  if (!report.launcherIsExecutable) {
    report.error = "No executable launcher at " + inQuotes(report.launcherPath);
    return report;
  }

  Work pass{&options, report.launcherPath, &report};
  work = &pass;
  ErrorLineAppender errorLine;
  if (app::launch(std::nothrow, firstPass, &errorLine) != 0) {
    report.error = errorLine.line;
  }
  work = nullptr;
  return report;
}

int Report::exitStatus() const {
  if (error) {
    return 1;
  }
  return findings.empty() ? 0 : 2;
}

}  // namespace bundlecheck
