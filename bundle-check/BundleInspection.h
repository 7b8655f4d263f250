// Checks an application bundle the way the launcher would start it: the
// same package file, configuration lookup, parser, macro expansion, runtime
// library search and argument vector as the launcher's first pass, run in
// the launcher's own run frame, stopping before the runtime is called.
// Along the way it collects findings: what the launcher accepts in silence
// but is most likely a packaging mistake.

#ifndef BUNDLECHECK_BUNDLEINSPECTION_H
#define BUNDLECHECK_BUNDLEINSPECTION_H

#include <string>
#include <vector>

#include "Report.h"

namespace bundlecheck {

struct Options {
  std::string bundle;
  enum HomeMode { HomeFromEnvironment, HomeGiven, NoHome };
  HomeMode homeMode = HomeFromEnvironment;
  std::string homeDir;  // with HomeGiven
  // Also load the runtime library and look up its entry point.
  bool loadRuntime = false;
  // The working directory the launcher is started in: "/" from the Finder.
  std::string cwd = "/";
  // The arguments the application is checked as started with.
  std::vector<std::string> args;
};

// Reads the bundle and never writes anything. Not thread-safe: it sets the
// launcher's logger, as a launch does, and moves the process to
// `options.cwd`.
Report inspect(const Options& options);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_BUNDLEINSPECTION_H
