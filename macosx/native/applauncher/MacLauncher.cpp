// The process entry of the launcher. main runs twice in one process: the
// runtime calls it again, on a thread of its choosing, while its entry
// point is running. The first pass builds the launch description and keeps
// it; a pass that finds it kept only launches again from it.

#include "AppLauncher.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "PackageFile.h"
#include "SysInfo.h"
#include "ZvmLauncher.h"
#include "app.h"

namespace {

// Set once by the first pass before the runtime is entered, never cleared
// and never destroyed: the second pass reads it from another thread.
Zvm* zvmLauncher = nullptr;

void launchZvm() { zvmLauncher->launch(); }

void initZvmLauncher() {
  const std::string launcherPath = SysInfo::getProcessModulePath();

  // The launcher sits in <bundle>/Contents/MacOS.
  const std::string imageRoot =
      FileUtils::dirname(FileUtils::dirname(FileUtils::dirname(launcherPath)));
  const std::string appDir = FileUtils::combinePath(imageRoot, "Contents/app");

  const PackageFile packageFile = PackageFile::loadFromAppDir(appDir);

  AppLauncher appLauncher;
  appLauncher.setImageRoot(imageRoot)
      .addZvmLibName("Contents/Home/lib/libzli.dylib")
      .addZvmLibName("Contents/Home/lib/zli/libzli.dylib")
      .setAppDir(appDir)
      .setLibEnvVariableName("DYLD_LIBRARY_PATH")
      .setDefaultRuntimePath(
          FileUtils::combinePath(imageRoot, "Contents/runtime"));

  if (!packageFile.getPackageName().empty()) {
    // Without a home directory the launch goes on with the bundle's own
    // configuration only.
    std::string homeDir;
    try {
      homeDir = SysInfo::getEnvVariable("HOME");
    } catch (const std::runtime_error& e) {
      reportError(SourceCodePos(__FILE__, "initZvmLauncher", __LINE__), e);
    } catch (...) {
      reportUnknownError(SourceCodePos(__FILE__, "initZvmLauncher", __LINE__));
    }

    if (!homeDir.empty()) {
      appLauncher.addCfgFileLookupDir(FileUtils::combinePath(
          FileUtils::combinePath(homeDir, "Library/Application Support"),
          packageFile.getPackageName()));
    }
  }

  zvmLauncher = appLauncher.createZvmLauncher();
  zvmLauncher->launch();
}

}  // namespace

int main(int argc, char* argv[]) {
  if (zvmLauncher) {
    return app::launch(std::nothrow, launchZvm);
  }
  SysInfo::argc = argc;
  SysInfo::argv = argv;
  return app::launch(std::nothrow, initZvmLauncher);
}
