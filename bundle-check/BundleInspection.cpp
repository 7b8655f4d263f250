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
    if (!report.cfgCandidates.empty() && report.cfgCandidates.back().exists) {
      report.findings.push_back(Finding{
          "cfg-per-user", path, 0,
          "this per-user copy of the configuration is in effect: it "
          "overrides the bundle's own, and edits to the bundle's change "
          "nothing for this user"});
    }
    return &lint;
  }

  void cfgFileReady(const CfgFile& cfg) override {
    lint.checkConfiguration(cfg);
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
  if (!report.packageName.empty() && report.packageName.back() == '\r') {
    report.findings.push_back(Finding{
        "package-cr", report.packageFilePath, 1,
        "package name ends with a carriage return (CR-LF line ends?), which "
        "becomes part of it: the per-user configuration is looked for in a "
        "directory whose name ends with it"});
  }
  LaunchRecorder recorder(report, appLauncher.getMacros());
  appLauncher.setListener(&recorder);
  const std::unique_ptr<Zvm> zvm(appLauncher.createZvmLauncher());

  report.libPath = zvm->getLibPath();
  for (size_t i = 0; i != zvm->getEnvNames().size(); ++i) {
    report.environment.emplace_back(zvm->getEnvNames()[i],
                                    zvm->getEnvValues()[i]);
  }
  report.arguments = zvm->getArgs();

  const LibraryHeader launcher = readLibraryHeader(launcherPath);
  report.launcherFormat = launcher.description;
  report.launcherArchitectures = architectures(launcher);
  const LibraryHeader runtime = readLibraryHeader(report.libPath);
  report.libFormat = runtime.description;
  report.libArchitectures = architectures(runtime);
  bool loadsSomewhere = false;
  std::string causes;
  bool launcherFails = true;
  for (const ArchOutcome& outcome : weighPlatform(launcher, runtime)) {
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
        outcome.code, outcome.launcherFails() ? launcherPath : report.libPath,
        0, where + outcome.cause});
    causes += (causes.empty() ? "" : "; ") + where + outcome.cause;
    launcherFails = launcherFails && outcome.launcherFails();
  }

  const bool readable =
      launcher.kind == LibraryHeader::Elf || launcher.isMachO();
  const std::string noLoader = whyNoLoader();
  const bool loadHere =
      noLoader.empty() && loadsOnThisHost(readable ? launcher : hostLauncher());
  if (work->options->loadRuntime && !noLoader.empty()) {
    report.notLoaded = noLoader;
  } else if (work->options->loadRuntime && !loadHere) {
    report.notLoaded = "the launcher is " + launcher.description +
                       ", and this host loads only its own kind of library";
  }
  if (!loadsSomewhere && !(work->options->loadRuntime && loadHere)) {
    // No loader of this kind here to ask: the launcher's line up to the
    // loader's own text, and the cause the headers show.
    report.error =
        launcherFails
            ? "No Mac starts the launcher at " + inQuotes(launcherPath)
            : callFailedMessage("dlopen", report.libPath, "");
    report.errorCause = causes;
    return;
  }

  if (work->options->loadRuntime && loadHere) {
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
  if (report.launcherIsRegularFile) {
    report.launcherVersion = launcherVersion(report.launcherPath);
  }
  if (!report.launcherIsExecutable) {
    report.error = "No executable launcher at " + inQuotes(report.launcherPath);
    return report;
  }

  Work pass{&options, report.launcherPath, &report};
  work = &pass;
  ErrorLineAppender errorLine;
  if (app::launch(std::nothrow, firstPass, &errorLine) != 0) {
    report.error = errorLine.line;
    report.errorCause.reset();
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
