// The version a launcher file names by its version marker (VersionMarker.h),
// for the bundle check's report and its --version.

#ifndef BUNDLECHECK_LAUNCHERVERSION_H
#define BUNDLECHECK_LAUNCHERVERSION_H

#include <optional>
#include <string>

#include "FileReader.h"

namespace bundlecheck {

// The version of this build of the launcher and the check.
extern const char* const checkVersion;

// The version in the first well-formed marker of the file `file` reads (of
// a universal file, that of its first slice); empty when the file carries
// none, no value when a read fails before one is found. Reads at most the
// first 256 MiB.
std::optional<std::string> launcherVersion(FileReader& file);
// The same for the file at `path`; no value when it cannot be opened.
std::optional<std::string> launcherVersion(const std::string& path);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_LAUNCHERVERSION_H
