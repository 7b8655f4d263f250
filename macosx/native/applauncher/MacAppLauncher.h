// The application bundle around the launcher: its layout, derived from the
// launcher's own path, and the AppLauncher filled with it. The launcher's
// first pass and the bundle check both start a launch here.
//
// A launcher at R/Contents/MacOS/<name> has R as image root, R/Contents/app
// as app directory and R/Contents/runtime as default runtime directory.

#ifndef MACAPPLAUNCHER_H
#define MACAPPLAUNCHER_H

#include <functional>
#include <string>

#include "AppLauncher.h"
#include "tstrings.h"

namespace MacAppLauncher {

struct BundleLayout {
  explicit BundleLayout(const std::string& launcherPath);

  std::string imageRoot;
  std::string appDir;
  std::string defaultRuntimePath;
};

// The runtime library candidates, relative to the runtime directory, in
// search order.
extern const char* const zvmLibNames[2];

// An AppLauncher for the launcher at `launcherPath` started with `args`,
// filled with its bundle's layout. Reads the package file of the app
// directory and throws what that throws; its name, possibly empty, goes to
// `packageName` when that is not null. Only with a package name is
// `homeDir` asked for the home directory, and the per-user configuration
// directory under it looked in first; an empty home directory adds none.
AppLauncher create(const std::string& launcherPath, const StringList& args,
                   const std::function<std::string()>& homeDir,
                   std::string* packageName = nullptr);

}  // namespace MacAppLauncher

#endif  // MACAPPLAUNCHER_H
