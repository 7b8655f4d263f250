// The process entry of the launcher. main runs twice in one process: the
// runtime calls it again, on a thread of its choosing, while its entry
// point is running. The first pass builds the launch description and keeps
// it; a pass that finds it kept only launches again from it.

#include "AppLauncher.h"
#include "ErrorHandling.h"
#include "MacAppLauncher.h"
#include "SysInfo.h"
#include "ZvmLauncher.h"
#include "app.h"

namespace {

// Set once by the first pass before the runtime is entered, never cleared
// and never destroyed: the second pass reads it from another thread.
Zvm* zvmLauncher = nullptr;

void launchZvm() { zvmLauncher->launch(); }

// Without a home directory the launch goes on with the bundle's own
// configuration only.
std::string homeFromEnvironment() {
  try {
    return SysInfo::getEnvVariable("HOME");
  } catch (const std::runtime_error& e) {
    reportError(SourceCodePos(__FILE__, "initZvmLauncher", __LINE__), e);
  } catch (...) {
    reportUnknownError(SourceCodePos(__FILE__, "initZvmLauncher", __LINE__));
  }
  return std::string();
}

void initZvmLauncher() {
  const AppLauncher appLauncher = MacAppLauncher::create(
      SysInfo::getProcessModulePath(),
      SysInfo::getCommandArgs(SysInfo::WithoutProgramName),
      homeFromEnvironment);
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
