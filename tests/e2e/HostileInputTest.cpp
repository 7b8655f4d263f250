// Hostile inputs, each with the outcome a launcher owes its user: a launch
// with exactly the argument vector the configuration gives, or one line
// naming the problem and exit status 1. Never a crash, a hang, a partial
// launch or a silently different vector.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "e2e/BundleHarness.h"

namespace {

using e2e::Bundle;
using e2e::RunResult;

namespace fs = std::filesystem;

const char* const mainClassCfg = "[Application]\napp.mainclass=demo.Main\n";

// What a case expects: a launch with this argument vector and, if set,
// this DYLD_LIBRARY_PATH; or exactly this line on standard error and exit
// status 1, without the runtime being entered.
struct Outcome {
  bool launches = false;
  std::vector<std::string> argv;
  std::string dyld;
  std::string error;
};

Outcome launchOf(std::vector<std::string> argv, std::string dyld = "") {
  Outcome o;
  o.launches = true;
  o.argv = std::move(argv);
  o.dyld = std::move(dyld);
  return o;
}

Outcome failureOf(std::string line) {
  Outcome o;
  o.error = std::move(line);
  return o;
}

void expectOutcome(const Outcome& expected, const RunResult& r) {
  if (expected.launches) {
    e2e::expectLaunched(r, expected.argv, expected.dyld);
  } else {
    e2e::expectFailed(r, expected.error);
  }
}

// The vector of a launch of `bundle` with the main-class configuration.
std::vector<std::string> mainClassArgv(const Bundle& bundle) {
  return {bundle.launcher(), "-Dquern.app-path=" + bundle.launcher(),
          "demo.Main"};
}

std::string fixture(const std::string& name) {
  return e2e::readFile(e2e::fixturePath("hostile/" + name));
}

// The file name the C library was loaded from: a real shared library that
// has no ZLI_Launch.
std::string cLibraryPath() {
  Dl_info info;
  if (!dladdr(reinterpret_cast<void*>(&fclose), &info) || !info.dli_fname) {
    return std::string();
  }
  return info.dli_fname;
}

struct Case {
  const char* what;
  std::function<void(const Bundle&)> setUp;
  std::function<Outcome(const Bundle&)> expected;
};

// Each case in a fresh bundle with the main-class configuration, started
// by `launch` (by default with no arguments and an empty environment).
void runCases(
    const std::vector<Case>& cases,
    const std::function<RunResult(const Bundle&)>& launch =
        [](const Bundle& b) { return b.launch(); }) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle("App", mainClassCfg);
    c.setUp(bundle);
    expectOutcome(c.expected(bundle), launch(bundle));
  }
}

TEST(HostileInput, ConfigurationContentLaunchesExactlyOrFailsWithOneLine) {
  static const char* const perUserCfg =
      "home/Library/Application Support/com.example.demo/App.cfg";
  const std::vector<Case> cases = {
      {"random binary bytes, no line opening a section",
       [](const Bundle& b) { b.writeCfg(fixture("random-bytes.cfg")); },
       [](const Bundle& b) {
         return launchOf({b.launcher(), "-Dquern.app-path=" + b.launcher()},
                         ":" + b.appDir());
       }},
      {"random binary bytes whose 15th line opens a section without ']'",
       [](const Bundle& b) {
         b.writeCfg(fixture("random-bytes-unclosed-header.cfg"));
       },
       [](const Bundle& b) {
         return failureOf("Error parsing [" + b.cfgPath() +
                          "] file at 15: Missing ']' character");
       }},
      // The runtime gets C strings: a value cut at a NUL byte would reach it
      // as a different argument.
      {"NUL byte inside a value",
       [](const Bundle& b) { b.writeCfg(fixture("nul-in-value.cfg")); },
       [](const Bundle& b) {
         return failureOf("Error parsing [" + b.cfgPath() +
                          "] file at 2: NUL character in the value of "
                          "\"app.mainclass\"");
       }},
      {"NUL bytes in a comment, a key and section names only",
       [](const Bundle& b) { b.writeCfg(fixture("nul-outside-values.cfg")); },
       [](const Bundle& b) { return launchOf(mainClassArgv(b)); }},
      {"configuration that is a directory",
       [](const Bundle& b) {
         b.remove("Contents/app/App.cfg");
         fs::create_directory(b.cfgPath());
       },
       [](const Bundle& b) {
         return failureOf("Failed to read \"" + b.cfgPath() +
                          "\" file up to the end: Is a directory");
       }},
      {"per-user configuration that is a directory",
       [](const Bundle& b) {
         b.writePackage("com.example.demo\n");
         fs::create_directories(b.path(perUserCfg));
       },
       [](const Bundle& b) {
         return failureOf("Failed to read \"" + b.path(perUserCfg) +
                          "\" file up to the end: Is a directory");
       }},
      {"configuration that is a dangling symbolic link",
       [](const Bundle& b) {
         b.remove("Contents/app/App.cfg");
         fs::create_symlink("gone.cfg", b.cfgPath());
       },
       [](const Bundle& b) {
         return failureOf("Error opening \"" + b.cfgPath() +
                          "\" file: No such file or directory");
       }},
      {"configuration that is a loop of symbolic links",
       [](const Bundle& b) {
         b.remove("Contents/app/App.cfg");
         fs::create_symlink("loop.cfg", b.cfgPath());
         fs::create_symlink("App.cfg", b.appDir() + "/loop.cfg");
       },
       [](const Bundle& b) {
         return failureOf("Error opening \"" + b.cfgPath() +
                          "\" file: Too many levels of symbolic links");
       }},
  };
  runCases(cases, [](const Bundle& b) {
    return b.launch({}, {"HOME=" + b.path("home")});
  });
}

// A named pipe would keep the launcher waiting for a writer, and a device
// like /dev/zero would be read until memory runs out: both are refused
// before they are opened.
TEST(HostileInput, FilesThatCouldNeverEndAreRefused) {
  const auto openFailure = [](const std::string& path) {
    return "Error opening \"" + path + "\" file: Not a regular file";
  };
  const auto dlopenFailure = [](const std::string& path) {
    return "dlopen(" + path + ") failed. Error: " + path +
           ": not a regular file";
  };
  const auto cfg = [](const Bundle& b) { return b.cfgPath(); };
  const auto package = [](const Bundle& b) { return b.appDir() + "/.package"; };
  const auto runtime = [](const Bundle& b) { return b.runtimeLib(); };
  const struct {
    const char* what;
    std::function<std::string(const Bundle&)> path;
    bool linkedToDevZero;  // else a named pipe
    std::function<std::string(const std::string&)> error;
  } cases[] = {
      {"configuration that is a named pipe", cfg, false, openFailure},
      {"configuration linked to /dev/zero", cfg, true, openFailure},
      {".package that is a named pipe", package, false, openFailure},
      {".package linked to /dev/zero", package, true, openFailure},
      {"runtime library that is a named pipe", runtime, false, dlopenFailure},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle("App", mainClassCfg);
    const std::string path = c.path(bundle);
    e2e::removePath(path);
    if (c.linkedToDevZero) {
      fs::create_symlink("/dev/zero", path);
    } else {
      ASSERT_EQ(0, mkfifo(path.c_str(), 0644)) << path;
    }
    e2e::expectFailed(bundle.launch(), c.error(path));
  }
}

// A line of 100 MB: once as a comment between the lines that matter, once
// as the value of an application argument, which must then reach the
// runtime whole. Each takes a few seconds; the generous time-out only keeps
// a loaded machine from failing it.
TEST(HostileInput, HundredMegabyteLineIsReadWhole) {
  const std::string big(100 << 20, 'x');
  const std::vector<Case> cases = {
      {"100 MB comment line",
       [&big](const Bundle& b) {
         b.writeCfg("[Application]\n;" + big + "\napp.mainclass=demo.Main\n");
       },
       [](const Bundle& b) { return launchOf(mainClassArgv(b)); }},
      {"100 MB argument value",
       [&big](const Bundle& b) {
         b.writeCfg(std::string(mainClassCfg) +
                    "[ArgOptions]\narguments=" + big + "\narguments=last\n");
       },
       [&big](const Bundle& b) {
         std::vector<std::string> argv = mainClassArgv(b);
         argv.push_back(big);
         argv.push_back("last");
         return launchOf(argv);
       }},
  };
  runCases(cases, [](const Bundle& b) {
    e2e::RunOptions options;
    options.timeoutSeconds = 120;
    return e2e::run(b.launcher(), options);
  });
}

// Runs the launcher as the unprivileged user nobody, so that file modes
// keep it out (CI runs as root, who reads everything). The stand-in
// reports on standard output, which nobody can write to: its record file
// is in the harness's private directory.
class AsNobody {
 public:
  AsNobody() {
    std::string executable;
    e2e::RunOptions options;
    if (!e2e::runAsNobody(executable, options)) {
      whyNot = "setpriv is not installed, and a run as root reads every file";
    }
  }

  const std::string& reasonToSkip() const { return whyNot; }

  RunResult launch(const Bundle& bundle, const e2e::Environment& env) const {
    // Let nobody reach the bundle in the harness's private directory.
    chmod(bundle.temp().path().c_str(), 0755);
    e2e::RunOptions options;
    // getenv() finds the first entry: this one, before the harness's own.
    options.env = {"ZLI_STANDIN_RECORD="};
    options.env.insert(options.env.end(), env.begin(), env.end());
    std::string executable = bundle.launcher();
    e2e::runAsNobody(executable, options);
    RunResult r = e2e::run(executable, options);
    r.record = e2e::parseRecord(r.out);
    return r;
  }

 private:
  std::string whyNot;
};

TEST(HostileInput, UnreadableFilesFailWithOneLine) {
  const AsNobody asNobody;
  if (!asNobody.reasonToSkip().empty()) {
    GTEST_SKIP() << asNobody.reasonToSkip();
  }
  {
    // The same bundle, readable, launches as nobody: what fails below fails
    // for the file mode alone.
    SCOPED_TRACE("readable bundle");
    const Bundle bundle("App", mainClassCfg);
    const RunResult r = asNobody.launch(bundle, {});
    if (r.err.rfind("setpriv:", 0) == 0) {
      GTEST_SKIP() << "setpriv cannot start the launcher as nobody here: "
                   << r.err;
    }
    e2e::expectLaunched(r, mainClassArgv(bundle));
  }
  const std::vector<Case> cases = {
      {"configuration without read permission",
       [](const Bundle& b) { chmod(b.cfgPath().c_str(), 0); },
       [](const Bundle& b) {
         return failureOf("Error opening \"" + b.cfgPath() +
                          "\" file: Permission denied");
       }},
      {"package file without read permission",
       [](const Bundle& b) {
         b.writePackage("com.example.demo\n");
         chmod((b.appDir() + "/.package").c_str(), 0);
       },
       [](const Bundle& b) {
         return failureOf("Error opening \"" + b.appDir() +
                          "/.package\" file: Permission denied");
       }},
      {"runtime library without read permission",
       [](const Bundle& b) { chmod(b.runtimeLib().c_str(), 0); },
       [](const Bundle& b) {
         return failureOf("dlopen(" + b.runtimeLib() +
                          ") failed. Error: " + b.runtimeLib() +
                          ": cannot open shared object file: Permission "
                          "denied");
       }},
      // The lookup cannot see into a directory it may not search: the
      // bundle's own configuration is used, as for a missing file.
      {"per-user configuration in a directory nobody may search",
       [](const Bundle& b) {
         b.writePackage("com.example.demo\n");
         b.write("home/Library/Application Support/com.example.demo/App.cfg",
                 "[Application]\napp.mainclass=per.user.Main\n");
         chmod(b.path("home/Library").c_str(), 0700);
       },
       [](const Bundle& b) { return launchOf(mainClassArgv(b)); }},
  };
  runCases(cases, [&asNobody](const Bundle& b) {
    return asNobody.launch(b, {"HOME=" + b.path("home")});
  });
}

TEST(HostileInput, BrokenPackageFilesNeverRedirectTheConfiguration) {
  // Where the per-user configuration of a package "\xFF\xFE pkg" lies.
  const std::string supportDir = "home/Library/Application Support/";
  const std::vector<Case> cases = {
      // A directory reads as an empty file: no package, the bundle's own
      // configuration.
      {".package that is a directory",
       [](const Bundle& b) {
         fs::create_directories(b.appDir() + "/.package");
       },
       [](const Bundle& b) { return launchOf(mainClassArgv(b)); }},
      {".package of binary bytes names the per-user directory byte for byte",
       [&supportDir](const Bundle& b) {
         b.writePackage("\xFF\xFE pkg\nrest");
         b.write(supportDir + "\xFF\xFE pkg/App.cfg",
                 "[Application]\napp.mainclass=per.user.Main\n");
       },
       [](const Bundle& b) {
         return launchOf({b.launcher(), "-Dquern.app-path=" + b.launcher(),
                          "per.user.Main"});
       }},
      // No file name holds a NUL byte, so no per-user configuration exists
      // for this name; the part in front of the NUL must not be taken for
      // it.
      {".package with a NUL byte in the name",
       [&supportDir](const Bundle& b) {
         b.writePackage(fixture("binary-with-nul.package"));
         b.write(supportDir + "\xFF\xFE pkg/App.cfg",
                 "[Application]\napp.mainclass=per.user.Main\n");
       },
       [](const Bundle& b) { return launchOf(mainClassArgv(b)); }},
      {".package that is a loop of symbolic links",
       [](const Bundle& b) {
         fs::create_symlink("loop", b.appDir() + "/.package");
         fs::create_symlink(".package", b.appDir() + "/loop");
       },
       [](const Bundle& b) { return launchOf(mainClassArgv(b)); }},
  };
  runCases(cases, [](const Bundle& b) {
    return b.launch({}, {"HOME=" + b.path("home")});
  });
}

// An unreadable .package is no package. Without diagnostics nothing shows;
// with them one trace line says why, and every other line is that of an
// empty .package.
TEST(HostileInput, UnreadablePackageFileIsTracedAsNoPackage) {
  const struct {
    const char* what;
    std::function<void(const std::string& path)> make;
    int error;
  } cases[] = {
      {"a directory", [](const std::string& p) { fs::create_directory(p); },
       EISDIR},
      // The memory file of the reading process fails its first read.
      {"a file whose first read fails",
       [](const std::string& p) { fs::create_symlink("/proc/self/mem", p); },
       EIO},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle b("App", mainClassCfg);
    b.writePackage("");
    const RunResult reference = b.launch({}, {"QUERN_DEBUG=true"});
    const std::string path = b.appDir() + "/.package";
    e2e::removePath(path);
    c.make(path);
    expectOutcome(launchOf(mainClassArgv(b)), b.launch());
    const RunResult debug = b.launch({}, {"QUERN_DEBUG=true"});
    EXPECT_EQ(0, debug.exitCode) << debug;
    const std::string traced = "No package: error reading \"" + path +
                               "\" file: " + std::strerror(c.error);
    // Addresses differ from run to run.
    const auto withoutAddresses = [](const std::vector<std::string>& lines) {
      std::vector<std::string> out;
      for (const std::string& line : lines) {
        out.push_back(
            std::regex_replace(line, std::regex("0x[0-9a-f]+"), "0x"));
      }
      return out;
    };
    std::vector<std::string> others;
    size_t found = 0;
    for (const std::string& line : debug.errLines()) {
      if (line.find("] PackageFile.cpp:") != std::string::npos &&
          line.size() > traced.size() &&
          line.compare(line.size() - traced.size(), std::string::npos,
                       traced) == 0) {
        ++found;
      } else {
        others.push_back(line);
      }
    }
    EXPECT_EQ(1u, found) << debug;
    EXPECT_EQ(withoutAddresses(reference.errLines()), withoutAddresses(others));
  }
}

TEST(HostileInput, BrokenRuntimeLibraryFailsWithTheLoadersMessage) {
  const std::string cLibrary = cLibraryPath();
  ASSERT_FALSE(cLibrary.empty());
  const auto dlopenFailure = [](const std::string& detail) {
    return [detail](const Bundle& b) {
      return failureOf("dlopen(" + b.runtimeLib() +
                       ") failed. Error: " + b.runtimeLib() + ": " + detail);
    };
  };
  const std::vector<Case> cases = {
      {"runtime library that is a directory",
       [](const Bundle& b) {
         e2e::removePath(b.runtimeLib());
         fs::create_directory(b.runtimeLib());
       },
       dlopenFailure("cannot read file data: Is a directory")},
      {"runtime library that is an empty file",
       [](const Bundle& b) { e2e::writeFile(b.runtimeLib(), ""); },
       dlopenFailure("file too short")},
      {"runtime library that is a text file",
       [](const Bundle& b) {
         e2e::writeFile(b.runtimeLib(), fixture("../dll/not-a-library.dylib"));
       },
       dlopenFailure("invalid ELF header")},
      // The loader already holds the C library, so a link to it loads
      // nothing new; it has no ZLI_Launch.
      {"runtime library without ZLI_Launch",
       [&cLibrary](const Bundle& b) {
         e2e::removePath(b.runtimeLib());
         fs::create_symlink(cLibrary, b.runtimeLib());
       },
       [&cLibrary](const Bundle& b) {
         return failureOf("dlsym(" + b.runtimeLib() +
                          ", ZLI_Launch) failed. Error: " + cLibrary +
                          ": undefined symbol: ZLI_Launch");
       }},
      {"runtime library that is a loop of symbolic links",
       [](const Bundle& b) {
         e2e::removePath(b.runtimeLib());
         fs::create_symlink("loop.dylib", b.runtimeLib());
         fs::create_symlink(
             "libzli.dylib",
             fs::path(b.runtimeLib()).parent_path() / "loop.dylib");
       },
       [](const Bundle& b) {
         return failureOf("Failed to find ZVM in \"" + b.runtimeDir() +
                          "\" directory.");
       }},
  };
  runCases(cases);
}

// A chain of two links is resolved one level: the launcher takes the
// second link for itself and looks for a bundle around it. Where there is
// none it says which configuration it could not open.
TEST(HostileInput, LauncherLinkChainIsResolvedOneLevel) {
  const Bundle bundle("App", mainClassCfg);
  const e2e::TempDir& t = bundle.temp();
  fs::create_directories(t / "a/b/c");
  fs::create_symlink(bundle.launcher(), t / "a/b/c/second");
  fs::create_symlink(t / "a/b/c/second", t / "first");

  const RunResult r = e2e::run(t / "first", e2e::RunOptions());

  e2e::expectFailed(r, "Error opening \"" + t / "a/Contents/app/second.cfg" +
                           "\" file: No such file or directory");
}

// The bundle names a package, so the launcher looks for a per-user
// configuration under HOME; without a usable HOME it uses its own.
TEST(HostileInput, HomeThatIsUnsetEmptyOrAFileFallsBackToTheBundle) {
  const Bundle bundle("App", mainClassCfg);
  bundle.writePackage("com.example.demo\n");
  bundle.write("home-file", "not a directory\n");
  const e2e::Environment environments[] = {
      {}, {"HOME="}, {"HOME=" + bundle.path("home-file")}};
  for (const e2e::Environment& env : environments) {
    SCOPED_TRACE(env.empty() ? "HOME unset" : env[0]);
    e2e::expectLaunched(bundle.launch({}, env), mainClassArgv(bundle));
  }
}

// Linux refuses to start a program with one environment string longer than
// 128 KiB, so the 100,000 entries are mostly empty ones.
TEST(HostileInput, HundredThousandLibraryPathEntriesAreKeptExactly) {
  std::string entries;
  for (int i = 0; i != 100000; ++i) {
    entries += (i % 1000 == 0) ? "/lib" + std::to_string(i) + ":" : ":";
  }
  const Bundle bundle("App", mainClassCfg);
  {
    SCOPED_TRACE("app directory not listed: appended");
    const RunResult r =
        bundle.launch({}, {"DYLD_LIBRARY_PATH=" + entries + "/last"});
    e2e::expectLaunched(r, mainClassArgv(bundle),
                        entries + "/last:" + bundle.appDir());
  }
  {
    SCOPED_TRACE("app directory listed last: unchanged");
    const std::string value = entries + bundle.appDir();
    const RunResult r = bundle.launch({}, {"DYLD_LIBRARY_PATH=" + value});
    e2e::expectLaunched(r, mainClassArgv(bundle), value);
  }
}

TEST(HostileInput, CommandLineArgumentsReachTheRuntimeUnchanged) {
  std::vector<std::string> many;
  for (int i = 0; i != 10000; ++i) {
    many.push_back("arg" + std::to_string(i));
  }
  const std::vector<std::vector<std::string>> commandLines = {
      many,
      {"two words", "", "\"double\"", "'single'", "back\\slash", "line\nbreak",
       "\r\n", "tab\t", "\xE2\x9C\x93 \xC3\xA9\xF0\x9F\x98\x80",
       "\xFF\xFE invalid UTF-8", "", "$APPDIR", "-psn", "--"},
  };
  const Bundle bundle("App", std::string(mainClassCfg) +
                                 "[ArgOptions]\narguments=configured\n");
  for (const std::vector<std::string>& args : commandLines) {
    SCOPED_TRACE(e2e::describe(args).substr(0, 200));
    std::vector<std::string> argv = mainClassArgv(bundle);
    argv.insert(argv.end(), args.begin(), args.end());
    e2e::expectLaunched(bundle.launch(args), argv);
  }
}

// The bundle lies in a directory named "$APPDIR": paths that hold a macro
// key are passed on as they are, and a configuration that uses a macro
// whose value holds a key stops with one line instead of growing.
TEST(HostileInput, AppDirectoryPathHoldingAMacroKey) {
  const Bundle bundle("App", mainClassCfg, "$APPDIR");
  ASSERT_NE(std::string::npos, bundle.appDir().find("/$APPDIR/"));
  {
    SCOPED_TRACE("no macro in the configuration");
    std::vector<std::string> argv = mainClassArgv(bundle);
    argv.push_back("$APPDIR");
    e2e::expectLaunched(bundle.launch({"$APPDIR"}), argv,
                        ":" + bundle.appDir());
  }
  for (const char* macro : {"$APPDIR", "$BINDIR", "$ROOTDIR"}) {
    SCOPED_TRACE(macro);
    bundle.writeCfg("[Application]\napp.classpath=" + std::string(macro) +
                    "/lib/a.zar\napp.mainclass=demo.Main\n");
    e2e::expectFailed(bundle.launch(),
                      "Macro expansion of \"app.classpath\" in section "
                      "\"Application\" does not settle");
  }
}

}  // namespace
