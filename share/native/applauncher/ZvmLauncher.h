// The launch description of the Zeal virtual machine, and its hand-over to
// the runtime.
//
// A Zvm holds the runtime library's path, the exact argument vector that
// ZLI_Launch receives and the environment entries to set just before. It is
// filled once, then only read: launch() may run any number of times, from
// any thread, each time with a fresh launch-data block.

#ifndef ZVMLAUNCHER_H
#define ZVMLAUNCHER_H

#include <string>

#include "ZvmLauncherLib.h"
#include "tstrings.h"

class CfgFile;

class Zvm {
 public:
  Zvm();
  ~Zvm();

  Zvm& setLibPath(const std::string& path);
  Zvm& appendArgument(const std::string& value);

  // Records the entry for the launch; the process environment is changed
  // only by launch(). For a name added twice the later value wins.
  Zvm& addEnvVariable(const std::string& name, const std::string& value);

  // Appends the configuration's arguments: module path, class path, splash,
  // runtime options, "-Dquern.app-path=" with `appPath` (the launcher's own
  // path), main module, main class, main archive and application arguments,
  // in that order.
  Zvm& initFromConfigFile(const CfgFile& cfg, const std::string& appPath);
  // The same for a configuration about to be discarded: the lists of runtime
  // options and application arguments are moved out of it, not copied.
  Zvm& initFromConfigFile(CfgFile&& cfg, const std::string& appPath);

  // A new handle holding a copy of the description, for
  // zvmLauncherCreateZvmlLauncherData.
  void* exportLauncher() const;

  // Loads the runtime library and calls ZLI_Launch. Throws when the block
  // cannot be made, the library or its entry point cannot be loaded, or the
  // runtime returns non-zero.
  void launch();

  const std::string& getLibPath() const { return libPath; }
  const StringList& getArgs() const { return args; }
  const StringList& getEnvNames() const { return envNames; }
  const StringList& getEnvValues() const { return envValues; }

 private:
  Zvm(const Zvm&) = delete;
  Zvm& operator=(const Zvm&) = delete;

  std::string libPath;
  StringList args;
  StringList envNames;
  StringList envValues;
};

// The callback table with which launch() flattens a handle made by
// exportLauncher().
const ZvmlLauncherCallbacks* getZvmlLauncherCallbacks();

#endif  // ZVMLAUNCHER_H
