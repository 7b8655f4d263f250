// What a bundle check found: the steps of a launch as the launcher would
// take them, the findings, and the launcher's own error when it would fail.
// Filled by BundleInspection, written by ReportWriter.

#ifndef BUNDLECHECK_REPORT_H
#define BUNDLECHECK_REPORT_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bundlecheck {

// A warning about the bundle. `line` is 0 when there is no line to name;
// `file` is empty when there is no file.
struct Finding {
  std::string code;
  std::string file;
  int line = 0;
  std::string message;
};

struct PathCheck {
  std::string path;
  bool exists = false;
};

struct Report {
  std::string bundle;

  std::string launcherPath;  // <bundle>/Contents/MacOS/<name>
  bool launcherExists = false;
  bool launcherIsRegularFile = false;
  bool launcherIsExecutable = false;
  std::string launcherVersion;  // of a regular file; empty when it has none

  std::string infoPlistPath;
  std::string infoPlistFormat;  // "xml", "binary", "other", "missing", ...
  std::optional<std::string> bundleExecutable;
  std::optional<std::string> bundlePackageType;

  std::string packageFilePath;
  bool packageFileExists = false;
  std::string packageName;

  std::vector<PathCheck> cfgCandidates;  // the per-user lookup, in order
  std::string cfgFileUsed;               // empty when never reached

  std::vector<Finding> findings;

  std::string runtimeDir;  // empty when never reached
  bool runtimeDirConfigured = false;
  std::vector<PathCheck> libCandidates;
  std::string libPath;  // the library chosen; empty when none
  std::string libFormat;
  bool loadAttempted = false;
  bool loaded = false;

  std::vector<std::pair<std::string, std::string>> environment;
  std::vector<std::string> arguments;

  // The launcher's one-line error, byte for byte; empty when it would
  // launch.
  std::optional<std::string> error;

  bool wouldLaunch() const { return !error; }
  // 0 launches cleanly, 1 would fail, 2 launches with findings.
  int exitStatus() const;
};

}  // namespace bundlecheck

#endif  // BUNDLECHECK_REPORT_H
