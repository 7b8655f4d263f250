// The bundle as the Mac sees it before anything of the launcher runs: its
// absolute path, Contents/Info.plist, and the launcher executable the Mac
// starts, Contents/MacOS/<CFBundleExecutable>.

#ifndef BUNDLECHECK_LAUNCHERLOOKUP_H
#define BUNDLECHECK_LAUNCHERLOOKUP_H

#include <string>
#include <vector>

#include "Report.h"

namespace bundlecheck {

// `given` as an absolute path without "." or ".." parts or a trailing
// slash, so that "." and "Hello.app/" have the bundle's own name.
std::string resolvedBundle(const std::string& given);

// The names `dir` lists, byte for byte, as the directory holds them; none
// when it cannot be read. A few thousand at most, plenty for any bundle.
std::vector<std::string> directoryEntries(const std::string& dir);

// Reads Info.plist of report.bundlePath and finds the launcher: fills the
// Info.plist and launcher fields, with the Info.plist findings.
void findLauncher(Report& report);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_LAUNCHERLOOKUP_H
