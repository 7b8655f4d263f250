// applauncher-check: shows what the launcher would do with an application
// bundle, and every likely packaging mistake in it, without starting it.
//
//   applauncher-check [--home DIR | --no-home] [--cwd DIR] [--json]
//                     [--load-runtime] BUNDLE.app [-- ARG...]
//   applauncher-check --version
//
// Exit status: 0 the bundle would launch and there is no finding, 1 the
// launcher would fail, 2 it would launch with findings, 64 a wrong command
// line.

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "BundleInspection.h"
#include "FindingCodes.h"
#include "LauncherVersion.h"
#include "ReportWriter.h"

namespace {

const int usageStatus = 64;

const char* const usageLine =
    "applauncher-check [--home DIR | --no-home] [--cwd DIR] [--json] "
    "[--load-runtime] BUNDLE.app [-- ARG...]";

int usage(const std::string& problem) {
  std::cerr << "applauncher-check: " << problem << "\nusage: " << usageLine
            << std::endl;
  return usageStatus;
}

}  // namespace

int main(int argc, char* argv[]) {
  bundlecheck::Options options;
  bool json = false;
  bool homeChosen = false;
  bool cwdChosen = false;
  bool haveBundle = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--json") {
      json = true;
    } else if (arg == "--load-runtime") {
      options.loadRuntime = true;
    } else if (arg == "--cwd") {
      if (cwdChosen || i + 1 == argc) {
        return usage("--cwd needs a directory, once");
      }
      cwdChosen = true;
      options.cwd = argv[++i];
    } else if (arg == "--home" || arg == "--no-home") {
      if (homeChosen) {
        return usage("--home and --no-home may be given once, not both");
      }
      homeChosen = true;
      if (arg == "--no-home") {
        options.homeMode = bundlecheck::Options::NoHome;
      } else if (i + 1 == argc) {
        return usage("--home needs a directory");
      } else {
        options.homeMode = bundlecheck::Options::HomeGiven;
        options.homeDir = argv[++i];
      }
    } else if (arg == "--finding-table") {
      // Not in the usage line: it writes the table of findings that
      // docs/checking-a-bundle.md holds, and a test compares the two.
      bundlecheck::writeFindingTable(std::cout);
      return 0;
    } else if (arg == "--version") {
      std::cout << "applauncher-check " << bundlecheck::checkVersion << "\n";
      return 0;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << "usage: " << usageLine
                << "\nShows what the launcher would do with the bundle, and "
                   "likely packaging mistakes in it.\nExit status: 0 it would "
                   "launch, no findings; 1 it would fail; 2 it would launch, "
                   "with findings.\n";
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      return usage("unknown option " + arg);
    } else if (haveBundle) {
      return usage("one bundle at a time; application arguments go after --");
    } else {
      options.bundle = arg;
      haveBundle = true;
    }
  }
  if (!haveBundle) {
    return usage("no bundle given");
  }
  options.args.assign(argv + i, argv + argc);
  struct stat st;
  if (stat(options.cwd.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return usage("--cwd: no directory at " + options.cwd);
  }
  // The check moves to the --cwd directory; a home given relative to where
  // it was started stays the same directory.
  if (options.homeMode == bundlecheck::Options::HomeGiven &&
      !options.homeDir.empty() && options.homeDir[0] != '/') {
    std::error_code error;
    options.homeDir = std::filesystem::absolute(options.homeDir, error);
  }

  const bundlecheck::Report report = bundlecheck::inspect(options);
  if (json) {
    bundlecheck::writeJson(report, std::cout);
  } else {
    bundlecheck::writeText(report, std::cout);
  }
  std::cout.flush();
  return report.exitStatus();
}
