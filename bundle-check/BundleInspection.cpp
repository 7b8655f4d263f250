#include "BundleInspection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "AppLauncher.h"
#include "CfgFile.h"
#include "ConfigLint.h"
#include "Dll.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "HostLoader.h"
#include "LauncherLookup.h"
#include "LauncherVersion.h"
#include "LibraryFile.h"
#include "Log.h"
#include "MacAppLauncher.h"
#include "Names.h"
#include "Platform.h"
#include "SigningCheck.h"
#include "SysInfo.h"
#include "ZvmLauncher.h"
#include "app.h"

namespace bundlecheck {

namespace {

// Records what the launcher's own code decides, step by step, and has the
// configuration it reads checked.
class LaunchRecorder : public AppLauncher::Listener {
 public:
  LaunchRecorder(Report& report, const CfgFile::Macros& macros)
      : report(report), lint(report, macros) {}

  void cfgFileCandidate(const std::string& path, bool exists) override {
    report.cfgCandidates.push_back(PathCheck{path, exists});
  }

  CfgFile::LoadListener* cfgFileLoading(const std::string& path) override {
    report.cfgFileUsed = path;
    if (!FileUtils::isFileExists(path)) {
      otherConfigurations(path);
    }
    if (!report.cfgCandidates.empty() && report.cfgCandidates.back().exists) {
      report.findings.push_back(Finding{
          Code::CfgPerUser, path, 0,
          "this per-user copy of the configuration is in effect: it "
          "overrides the bundle's own, and edits to the bundle's change "
          "nothing for this user"});
    }
    return &lint;
  }

  void cfgFileReady(const CfgFile& cfg) override {
    lint.checkConfiguration(cfg);
  }

  // The launcher reads only the configuration named after itself; one
  // named otherwise beside it is most likely the one meant.
  void otherConfigurations(const std::string& path) {
    std::string others;
    int count = 0;
    for (const std::string& name : directoryEntries(FileUtils::dirname(path))) {
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cfg") == 0 &&
          ++count <= 3) {
        others += (others.empty() ? "" : ", ") + inQuotes(name);
      }
    }
    if (count > 0) {
      report.findings.push_back(Finding{
          Code::CfgOtherName, path, 0,
          "the launcher reads only the configuration named after itself, " +
              inQuotes(FileUtils::basename(path)) + ", and there is none; " +
              others +
              (count > 3   ? " and others are"
               : count > 1 ? " are"
                           : " is") +
              " there"});
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
  Report& report;
  ConfigLint lint;
};

std::vector<Architecture> architectures(const LibraryHeader& header) {
  std::vector<Architecture> list;
  if (header.kind == LibraryHeader::Elf) {
    list.push_back(Architecture{elfMachineName(header.machine), std::nullopt});
  }
  for (const MachOSlice& slice : header.slices) {
    list.push_back(Architecture{slice.arch, slice.isSigned});
  }
  return list;
}

// Receives the report of a failed pass from the launcher's run frame and
// keeps the line the launcher prints.
class ErrorLineAppender : public LogAppender {
 public:
  void append(const LogEvent&) override { line = app::lastErrorMessage(); }
  std::string line;
};

std::string homeDir(const Options& options) {
  switch (options.homeMode) {
    case Options::HomeGiven:
      return options.homeDir;
    case Options::NoHome:
      return std::string();
    case Options::HomeFromEnvironment:
      break;
  }
  return SysInfo::getEnvVariable(std::nothrow, "HOME", "");
}

// Blanks and a carriage return around the package name are part of it, so
// the per-user configuration is looked for under a name no one meant.
void checkPackageName(Report& report) {
  std::string name = report.packageName;
  if (!name.empty() && name.back() == '\r') {
    report.findings.push_back(Finding{
        Code::PackageCr, report.packageFilePath, 1,
        "package name ends with a carriage return (CR-LF line ends?), which "
        "becomes part of it: the per-user configuration is looked for in a "
        "directory whose name ends with it"});
    name.pop_back();
  }
  if (!name.empty() && trimmed(name) != name) {
    report.findings.push_back(Finding{
        Code::PackageBlanks, report.packageFilePath, 1,
        "package name " + inQuotes(name) +
            " has blanks around it, which are part of it: the per-user "
            "configuration is looked for in a directory whose name holds "
            "them"});
  }
}

// The work of the launcher's first pass for the checked bundle, started as
// `givenPath` with `options.args`; run inside app::launch, which reports
// its failure as the launcher does.
void firstPass(const Options& options, const std::string& givenPath,
               const LibraryHeader& launcher, Report& report) {
  // The path as the launcher finds its own: one link resolved, absolute.
  std::vector<char> given(givenPath.begin(), givenPath.end());
  given.push_back('\0');
  const std::string launcherPath =
      FileUtils::toAbsolutePath(SysInfo::getRealPath(given));
  const StringList args = SysInfo::launcherArgs(options.args);

  const std::string appDir = MacAppLauncher::BundleLayout(launcherPath).appDir;
  if (launcherPath != givenPath) {
    report.launcherLinkTarget = launcherPath;
    if (appDir != MacAppLauncher::BundleLayout(givenPath).appDir) {
      report.findings.push_back(Finding{
          Code::LauncherLink, givenPath, 0,
          "the launcher is a symbolic link to " + inQuotes(launcherPath) +
              ", so it reads its package file and configuration from " +
              inQuotes(appDir) + ", not from this bundle"});
    }
  }
  report.packageFilePath = FileUtils::combinePath(appDir, ".package");
  report.packageFileExists = FileUtils::isFileExists(report.packageFilePath);
  AppLauncher appLauncher = MacAppLauncher::create(
      launcherPath, args, [&] { return homeDir(options); },
      &report.packageName);
  checkPackageName(report);
  LaunchRecorder recorder(report, appLauncher.getMacros());
  appLauncher.setListener(&recorder);
  const std::unique_ptr<Zvm> zvm(appLauncher.createZvmLauncher());

  report.libPath = zvm->getLibPath();
  for (size_t i = 0; i != zvm->getEnvNames().size(); ++i) {
    report.environment.emplace_back(zvm->getEnvNames()[i],
                                    zvm->getEnvValues()[i]);
  }
  report.arguments = zvm->getArgs();

  const LibraryHeader runtime = readLibraryHeader(report.libPath);
  report.libFormat = runtime.description;
  report.libArchitectures = architectures(runtime);
  bool loadsSomewhere = false;
  std::string causes;
  bool launcherFails = true;
  std::vector<ArchOutcome> outcomes = weighPlatform(launcher, runtime);
  if (launcher.isMachO() && runtime.isMachO()) {
    const SignedFile runtimeSigning = readSignedFile(report.libPath);
    report.libSignatures = signatureStates(runtimeSigning);
    weighRuntimeSigning(readSignedFile(launcherPath), runtimeSigning, outcomes,
                        report);
  }
  for (const ArchOutcome& outcome : outcomes) {
    report.platform.push_back(
        ArchLoad{outcome.arch, outcome.macs, outcome.code});
    if (outcome.loads()) {
      loadsSomewhere = true;
      continue;
    }
    const std::string where =
        outcome.macs.empty()
            ? std::string()
            : "on " + outcome.macs + " (" + outcome.arch + "): ";
    report.findings.push_back(Finding{
        *outcome.code, outcome.launcherFails() ? launcherPath : report.libPath,
        0, where + outcome.cause});
    causes += (causes.empty() ? "" : "; ") + where + outcome.cause;
    launcherFails = launcherFails && outcome.launcherFails();
  }

  const bool readable =
      launcher.kind == LibraryHeader::Elf || launcher.isMachO();
  const std::string noLoader = whyNoLoader();
  const bool loadHere =
      noLoader.empty() && loadsOnThisHost(readable ? launcher : hostLauncher());
  if (options.loadRuntime && !noLoader.empty()) {
    report.notLoaded = noLoader;
  } else if (options.loadRuntime && !loadHere) {
    report.notLoaded = "the launcher is " + launcher.description +
                       ", and this host loads only its own kind of library";
  }
  if (!loadsSomewhere && !(options.loadRuntime && loadHere)) {
    // No loader of this kind here to ask: the launcher's line up to the
    // loader's own text, and the cause the headers show.
    report.error =
        launcherFails
            ? "No Mac starts the launcher at " + inQuotes(launcherPath)
            : callFailedMessage("dlopen", report.libPath, "");
    report.errorCause = causes;
    report.errorCutAtLoaderText = !launcherFails;
    return;
  }

  if (options.loadRuntime && loadHere) {
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

}  // namespace

Report inspect(const Options& options) {
  Report report;
  report.bundle = options.bundle;

  struct stat st;
  if (stat(options.bundle.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    report.error = "No bundle directory at " + inQuotes(options.bundle);
    return report;
  }

  report.bundlePath = resolvedBundle(options.bundle);
  // Everything after this is as the launcher sees it from there.
  if (chdir(options.cwd.c_str()) != 0) {
    report.error = "No working directory at " + inQuotes(options.cwd);
    return report;
  }
  report.workingDirectory = FileUtils::toAbsolutePath("");
  findLauncher(report);
  LibraryHeader launcher;
  if (report.launcherIsRegularFile) {
    report.launcherVersion = launcherVersion(report.launcherPath);
    launcher = readLibraryHeader(report.launcherPath);
    report.launcherFormat = launcher.description;
    report.launcherArchitectures = architectures(launcher);
  }
  if (!report.launcherIsExecutable) {
    report.error = "No executable launcher at " + inQuotes(report.launcherPath);
    return report;
  }

  ErrorLineAppender errorLine;
  const std::string launcherPath = report.launcherPath;
  if (app::launch(
          std::nothrow,
          [&] { firstPass(options, launcherPath, launcher, report); },
          &errorLine) != 0) {
    report.error = errorLine.line;
    report.errorCause.reset();
  }
  checkBundleSigning(report);
  return report;
}

std::vector<std::string> Report::failingMacs() const {
  std::vector<std::string> macs;
  for (const ArchLoad& load : platform) {
    if (load.code && !load.macs.empty() &&
        std::find(macs.begin(), macs.end(), load.macs) == macs.end()) {
      macs.push_back(load.macs);
    }
  }
  return macs;
}

int Report::exitStatus() const {
  if (error) {
    return 1;
  }
  return findings.empty() ? 0 : 2;
}

}  // namespace bundlecheck
