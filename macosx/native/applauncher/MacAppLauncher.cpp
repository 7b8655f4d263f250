#include "MacAppLauncher.h"

#include "FileUtils.h"
#include "PackageFile.h"

namespace MacAppLauncher {

const char* const zvmLibNames[2] = {"Contents/Home/lib/libzli.dylib",
                                    "Contents/Home/lib/zli/libzli.dylib"};

BundleLayout::BundleLayout(const std::string& launcherPath)
    // The launcher sits in <bundle>/Contents/MacOS.
    : imageRoot(FileUtils::dirname(
          FileUtils::dirname(FileUtils::dirname(launcherPath)))),
      appDir(FileUtils::combinePath(imageRoot, "Contents/app")),
      defaultRuntimePath(
          FileUtils::combinePath(imageRoot, "Contents/runtime")) {}

AppLauncher create(const std::string& launcherPath, const StringList& args,
                   const std::function<std::string()>& homeDir,
                   std::string* packageName) {
  const BundleLayout layout(launcherPath);
  const PackageFile packageFile = PackageFile::loadFromAppDir(layout.appDir);
  if (packageName) {
    *packageName = packageFile.getPackageName();
  }

  AppLauncher appLauncher(launcherPath, args);
  appLauncher.setImageRoot(layout.imageRoot)
      .addZvmLibName(zvmLibNames[0])
      .addZvmLibName(zvmLibNames[1])
      .setAppDir(layout.appDir)
      .setLibEnvVariableName("DYLD_LIBRARY_PATH")
      .setDefaultRuntimePath(layout.defaultRuntimePath);

  if (!packageFile.getPackageName().empty()) {
    const std::string home = homeDir();
    if (!home.empty()) {
      appLauncher.addCfgFileLookupDir(FileUtils::combinePath(
          FileUtils::combinePath(home, "Library/Application Support"),
          packageFile.getPackageName()));
    }
  }
  return appLauncher;
}

}  // namespace MacAppLauncher
