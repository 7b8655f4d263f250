#include "LauncherLookup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "ErrorAlertSetting.h"
#include "FileUtils.h"
#include "InfoPlist.h"
#include "Names.h"

namespace bundlecheck {

namespace {

// The name of the launcher in Contents/MacOS: CFBundleExecutable, as the
// Mac starts it. Without that key: the bundle's name without ".app", else
// the only file there.
std::string launcherName(const std::string& bundle,
                         const std::optional<std::string>& executable,
                         const std::vector<std::string>& entries) {
  if (executable) {
    return *executable;
  }
  std::string name = FileUtils::basename(bundle);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".app") == 0) {
    name.resize(name.size() - 4);
  }
  if (entries.size() == 1 &&
      std::find(entries.begin(), entries.end(), name) == entries.end()) {
    return entries[0];
  }
  return name;
}

// Whether a version "major[.minor...]" is at least 11.0. A Mac older than
// 11 refuses such a bundle itself; 10.16, the number 11.0 shows to older
// programs, refuses the same Macs. Unset for text that is no version.
std::optional<bool> atLeast11(const std::string& version) {
  int major = 0, minor = 0;
  char end = 0;
  const int fields =
      std::sscanf(version.c_str(), "%3d.%3d%c", &major, &minor, &end);
  if (fields < 1 || version.empty() ||
      version.find_first_not_of("0123456789.") != std::string::npos ||
      version.back() == '.') {
    return std::nullopt;
  }
  return major > 10 || (major == 10 && minor >= 16);
}

// "XML", "binary" or "old-style" for a format "<form>, not read".
std::string formName(const std::string& format) {
  const std::string form = format.substr(0, format.find(','));
  return form == "xml" ? "XML" : form;
}

void checkIdentity(const InfoPlist& plist,
                   const std::function<void(Code, const std::string&)>& add) {
  if (!plist.bundleIdentifier || plist.bundleIdentifier->empty()) {
    add(Code::PlistIdentifier,
        std::string("CFBundleIdentifier is ") +
            (plist.root->find("CFBundleIdentifier") ? "empty or not a string"
                                                    : "missing") +
            "; the signing identity, privacy permissions and the app's "
            "per-user data are keyed on it");
  }
  const std::string why =
      ", which the launcher needs: on an older Mac it fails inside the "
      "loader instead of the system refusing the app cleanly";
  if (!plist.minimumSystemVersion) {
    add(Code::PlistMinimumSystem,
        "LSMinimumSystemVersion is missing; set it to 11.0" + why);
    return;
  }
  const std::optional<bool> recent = atLeast11(*plist.minimumSystemVersion);
  if (!recent || !*recent) {
    add(Code::PlistMinimumSystem,
        "LSMinimumSystemVersion is " + inQuotes(*plist.minimumSystemVersion) +
            (recent ? ", below 11.0" : ", which is no version; set 11.0") +
            why);
  }
}

void checkInfoPlist(Report& report, const InfoPlist& plist,
                    const std::vector<std::string>& entries) {
  const std::function<void(Code, const std::string&)> add =
      [&](Code code, const std::string& message) {
        report.findings.push_back(
            Finding{code, report.infoPlistPath, 0, message});
      };
  if (plist.format == "missing") {
    add(Code::PlistMissing, "the bundle has no Contents/Info.plist");
    return;
  }
  const std::string name = FileUtils::basename(report.launcherPath);
  if (plist.unreadable()) {
    // The Mac then sets no variables and starts the file named after the
    // bundle.
    report.errorAlert = false;
    report.findings.push_back(
        Finding{Code::PlistUnreadable, report.infoPlistPath, plist.errorLine,
                (plist.format == "not a property list"
                     ? std::string("not a property list")
                     : "not read as " + formName(plist.format) + ": " +
                           (plist.errorLine
                                ? plist.error.substr(plist.error.find(": ") + 2)
                                : plist.error)) +
                    "; the Mac ignores the whole file: no identifier, no "
                    "LSEnvironment, and the launcher it starts is " +
                    inQuotes(name)});
    return;
  }
  if (plist.format == "old-style, not checked") {
    add(Code::PlistNotChecked,
        "an old-style text property list, which the Mac reads and the check "
        "does not: CFBundleExecutable, the identifier and LSEnvironment are "
        "not checked (convert it to XML to have them checked)");
    return;
  }
  if (!plist.root) {
    add(Code::PlistNotRead, "not read: " + plist.format);
    return;
  }
  if (!plist.bundleExecutable) {
    add(Code::PlistNoExecutable,
        "CFBundleExecutable is missing; the launcher's file name is " +
            inQuotes(name));
  } else if (std::find(entries.begin(), entries.end(),
                       *plist.bundleExecutable) == entries.end()) {
    std::string held;
    for (size_t i = 0; i != entries.size() && i != 5; ++i) {
      held += (i ? ", " : "") + inQuotes(entries[i]);
    }
    add(Code::PlistExecutable,
        "CFBundleExecutable is " + inQuotes(*plist.bundleExecutable) +
            ", but Contents/MacOS holds no file of that name" +
            (held.empty() ? std::string() : " (it holds " + held + ")"));
  }
  if (plist.bundlePackageType != std::string("APPL")) {
    add(Code::PlistPackageType,
        plist.bundlePackageType
            ? "CFBundlePackageType is " + inQuotes(*plist.bundlePackageType) +
                  ", not \"APPL\""
            : "CFBundlePackageType is missing; an application has \"APPL\"");
  }
  checkIdentity(plist, add);
  checkErrorAlert(*plist.root, report);
}

}  // namespace

std::vector<std::string> directoryEntries(const std::string& dir) {
  std::error_code error;
  std::vector<std::string> entries;
  for (std::filesystem::directory_iterator it(dir, error), end;
       !error && it != end && entries.size() < 4096; it.increment(error)) {
    entries.push_back(it->path().filename().string());
  }
  return entries;
}

std::string resolvedBundle(const std::string& given) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(given, error);
  if (error) {
    return given;
  }
  std::string text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') {
    text.pop_back();
  }
  return text;
}

void findLauncher(Report& report) {
  report.infoPlistPath =
      FileUtils::combinePath(report.bundlePath, "Contents/Info.plist");
  const InfoPlist plist = readInfoPlist(report.infoPlistPath);
  report.infoPlistFormat = plist.format;
  report.bundleExecutable = plist.bundleExecutable;
  report.bundlePackageType = plist.bundlePackageType;
  report.bundleIdentifier = plist.bundleIdentifier;
  report.minimumSystemVersion = plist.minimumSystemVersion;
  const std::string macOS =
      FileUtils::combinePath(report.bundlePath, "Contents/MacOS");
  // Only a name Contents/MacOS lists counts, byte for byte: the Mac starts
  // the file Info.plist names, and a case-insensitive volume would
  // otherwise find a name spelt differently.
  const std::vector<std::string> entries = directoryEntries(macOS);
  const std::string name =
      launcherName(report.bundlePath, plist.bundleExecutable, entries);
  report.launcherPath = FileUtils::combinePath(macOS, name);
  // Only a name Contents/MacOS lists counts: not one spelt in another
  // letter case, nor a path that leaves the directory.
  struct stat st;
  report.launcherExists =
      std::find(entries.begin(), entries.end(), name) != entries.end() &&
      stat(report.launcherPath.c_str(), &st) == 0;
  report.launcherIsRegularFile = report.launcherExists && S_ISREG(st.st_mode);
  report.launcherIsExecutable = report.launcherIsRegularFile &&
                                access(report.launcherPath.c_str(), X_OK) == 0;
  checkInfoPlist(report, plist, entries);
}

}  // namespace bundlecheck
