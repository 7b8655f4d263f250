// What a bundle check found: the steps of a launch as the launcher would
// take them, the findings, and the launcher's own error when it would fail.
// Filled by BundleInspection, written by ReportWriter.

#ifndef BUNDLECHECK_REPORT_H
#define BUNDLECHECK_REPORT_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FindingCodes.h"

namespace bundlecheck {

// Something found in the bundle. `line` is 0 when there is no line to name;
// `file` is empty when there is no file.
struct Finding {
  Code code;
  std::string file;
  int line = 0;
  std::string message;

  Severity severity() const { return severityOf(code); }
};

// One architecture of an executable or a library; `isSigned` is unset for
// ELF, which has no signatures.
struct Architecture {
  std::string name;
  std::optional<bool> isSigned;
};

// The code signature of one architecture of the launcher or the runtime.
struct SignatureState {
  std::string arch;
  // "not signed", "ad hoc", "linker-signed", "Team ID <id>", "signed, no
  // Team ID", or "unreadable: <why>".
  std::string kind;
  std::string teamId;  // empty without one
  bool hardenedRuntime = false;
  // Whether the CMS blob holds a signature (never verified here); unset
  // for unsigned and unreadable slices.
  std::optional<bool> cmsSignature;
  // The entitlements granted that matter to the launcher, short names
  // ("allow-jit", ...).
  std::vector<std::string> entitlements;
  // Each seal the signature holds, in order, and its state: "code",
  // "entitlements", "Info.plist", "resources"; "intact", "changed: <why>",
  // "missing" or "not checked: <why>".
  std::vector<std::pair<std::string, std::string>> seals;
};

// Whether the runtime library loads into one architecture of the launcher.
struct ArchLoad {
  std::string arch;
  std::string macs;          // where that architecture runs; empty for ELF
  std::optional<Code> code;  // the finding that says why not; none: loads
};

struct PathCheck {
  std::string path;
  bool exists = false;
};

struct Report {
  std::string bundle;      // as given
  std::string bundlePath;  // absolute, without "." parts or trailing slash
  std::string workingDirectory;  // the launch is checked as started there

  std::string launcherPath;  // <bundle>/Contents/MacOS/<name>
  bool launcherExists = false;
  bool launcherIsRegularFile = false;
  bool launcherIsExecutable = false;
  // The file the launcher is a symbolic link to, as it resolves its own
  // path; empty when it is no link or was not started.
  std::string launcherLinkTarget;
  std::string launcherFormat;  // empty when not read
  std::vector<Architecture> launcherArchitectures;
  // Of a regular file; empty when it has none, no value when it cannot be
  // read.
  std::optional<std::string> launcherVersion = std::string();
  std::vector<SignatureState> launcherSignatures;  // of a Mach-O launcher

  std::string infoPlistPath;
  std::string infoPlistFormat;  // "xml", "binary", "other", "missing", ...
  std::optional<std::string> bundleExecutable;
  std::optional<std::string> bundlePackageType;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> minimumSystemVersion;
  // QUERN_ERROR_ALERT=true in LSEnvironment; unknown when Info.plist is
  // missing or could not be read from disk.
  std::optional<bool> errorAlert;

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
  std::vector<Architecture> libArchitectures;
  std::vector<SignatureState> libSignatures;  // of a Mach-O library
  std::vector<ArchLoad> platform;             // one for each of the launcher's
  bool loadAttempted = false;
  bool loaded = false;
  // Why --load-runtime did not load the library; empty when it did or was
  // not asked to.
  std::string notLoaded;

  std::vector<std::pair<std::string, std::string>> environment;
  std::vector<std::string> arguments;

  // The launcher's one-line error, byte for byte; empty when it would
  // launch.
  std::optional<std::string> error;
  // Set when `error` is the launcher's line only up to where the loader's
  // own text begins, which only that loader can tell: why it fails.
  std::optional<std::string> errorCause;
  // Whether `error` ends where the loader's own text would follow; the
  // check's own lines are whole.
  bool errorCutAtLoaderText = false;

  // The Macs of the launcher's architectures that the runtime does not
  // load into, as "Intel Macs"; none when it loads into every one.
  std::vector<std::string> failingMacs() const;

  bool wouldLaunch() const { return !error; }
  // 0 launches cleanly, 1 would fail, 2 launches with findings.
  int exitStatus() const;
};

}  // namespace bundlecheck

#endif  // BUNDLECHECK_REPORT_H
