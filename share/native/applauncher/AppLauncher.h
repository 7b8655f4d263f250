// The platform-neutral core of the launcher: given the layout of the
// application image, it chooses the configuration file, loads and expands
// it, lets command-line arguments replace the configured application
// arguments, finds the runtime library and returns a complete launch
// description.

#ifndef APPLAUNCHER_H
#define APPLAUNCHER_H

#include <string>

#include "tstrings.h"

class Zvm;

class AppLauncher {
 public:
  // Reads the launcher's own path and command-line arguments; throws what
  // those queries throw.
  AppLauncher();

  AppLauncher& setDefaultRuntimePath(const std::string& v);
  AppLauncher& setAppDir(const std::string& v);
  AppLauncher& setLibEnvVariableName(const std::string& v);
  AppLauncher& setImageRoot(const std::string& v);
  AppLauncher& addZvmLibName(const std::string& v);
  AppLauncher& addCfgFileLookupDir(const std::string& v);

  // The first lookup directory holding "<launcher name>.cfg", else that
  // file in the app directory, existing or not.
  std::string getCfgFilePath() const;

  // Whether the library search-path variable already lists the app
  // directory, byte for byte.
  bool libEnvVariableContainsAppDir() const;

  // A new launch description owned by the caller; never null. Throws on a
  // configuration that cannot be loaded or expanded, and when no runtime
  // library candidate exists.
  Zvm* createZvmLauncher() const;

 private:
  StringList args;
  std::string launcherPath;
  std::string defaultRuntimePath;
  std::string appDirPath;
  std::string libEnvVariableName;
  std::string imageRoot;
  StringList zvmLibNames;
  StringList cfgFileLookupDirs;
};

#endif  // APPLAUNCHER_H
