// The platform-neutral core of the launcher: given the layout of the
// application image, it chooses the configuration file, loads and expands
// it, lets command-line arguments replace the configured application
// arguments, finds the runtime library and returns a complete launch
// description.

#ifndef APPLAUNCHER_H
#define APPLAUNCHER_H

#include <string>

#include "CfgFile.h"
#include "tstrings.h"

class Zvm;

class AppLauncher {
 public:
  // Told what createZvmLauncher decides, step by step, for tools that
  // explain a launch before it happens. The launcher itself sets none.
  class Listener {
   public:
    virtual ~Listener() = default;

    // A configuration file looked for in a lookup directory, in lookup
    // order; the app directory's file, the last resort, is not reported.
    virtual void cfgFileCandidate(const std::string& path, bool exists) = 0;
    // The configuration file about to be loaded; returns what the parser
    // tells about each of its lines, or null.
    virtual CfgFile::LoadListener* cfgFileLoading(const std::string& path) = 0;
    // The configuration after macro expansion and after the command-line
    // arguments replaced the configured ones.
    virtual void cfgFileReady(const CfgFile& cfgFile) = 0;
    // The runtime directory, and whether the configuration named it.
    virtual void runtimeDir(const std::string& dir, bool configured) = 0;
    // A runtime library candidate, in search order, up to the first that
    // exists.
    virtual void zvmLibCandidate(const std::string& path, bool exists) = 0;
  };

  // Reads the launcher's own path and command-line arguments; throws what
  // those queries throw.
  AppLauncher();
  // A launcher at `launcherPath` started with `args` (the program name and
  // "-psn_" arguments already left out).
  AppLauncher(const std::string& launcherPath, const StringList& args);

  AppLauncher& setDefaultRuntimePath(const std::string& v);
  AppLauncher& setAppDir(const std::string& v);
  AppLauncher& setLibEnvVariableName(const std::string& v);
  AppLauncher& setImageRoot(const std::string& v);
  AppLauncher& addZvmLibName(const std::string& v);
  AppLauncher& addCfgFileLookupDir(const std::string& v);
  // Not owned; null, the default, tells nobody.
  AppLauncher& setListener(Listener* v);

  // The macros of the configuration: "$APPDIR", "$BINDIR" and "$ROOTDIR".
  CfgFile::Macros getMacros() const;

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
  Listener* listener = nullptr;
};

#endif  // APPLAUNCHER_H
