#include "LauncherLookup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

#include "ErrorAlertSetting.h"
#include "FileUtils.h"
#include "InfoPlist.h"
#include "Names.h"

namespace bundlecheck {

namespace {

// The names Contents/MacOS lists, byte for byte: the Mac starts the file
// Info.plist names, and a case-insensitive volume would otherwise find a
// name spelt differently. A few thousand are plenty for any bundle.
std::vector<std::string> listed(const std::string& dir) {
  std::error_code error;
  std::vector<std::string> entries;
  for (std::filesystem::directory_iterator it(dir, error), end;
       !error && it != end && entries.size() < 4096; it.increment(error)) {
    entries.push_back(it->path().filename().string());
  }
  return entries;
}

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

void checkInfoPlist(Report& report, const InfoPlist& plist,
                    const std::vector<std::string>& entries) {
  auto add = [&](Code code, const std::string& message) {
    report.findings.push_back(Finding{code, report.infoPlistPath, 0, message});
  };
  if (plist.format == "missing") {
    add(Code::PlistMissing, "the bundle has no Contents/Info.plist");
    return;
  }
  // A binary property list is as good as an XML one; it is only not read.
  if (plist.format == "binary") {
    return;
  }
  if (plist.format != "xml") {
    add(Code::PlistNotRead,
        "not read: " + plist.format + " (only XML property lists are checked)");
    return;
  }
  const std::string name = FileUtils::basename(report.launcherPath);
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
  checkErrorAlert(plist.text, report);
}

}  // namespace

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
  const std::string macOS =
      FileUtils::combinePath(report.bundlePath, "Contents/MacOS");
  const std::vector<std::string> entries = listed(macOS);
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
