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

#include <filesystem>
#include <functional>
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

// The vector of a launch of `bundle` with the main-class configuration.
std::vector<std::string> mainClassArgv(const Bundle& bundle) {
  return {bundle.launcher(), "-Dquern.app-path=" + bundle.launcher(),
          "demo.Main"};
}

std::string describe(const std::vector<std::string>& argv) {
  std::string text;
  size_t total = 0;
  for (const std::string& arg : argv) {
    total += arg.size();
  }
  text += std::to_string(argv.size()) + " arguments, " + std::to_string(total) +
          " bytes";
  if (total < 4096) {
    text += ":";
    for (const std::string& arg : argv) {
      text += " [" + arg + "]";
    }
  }
  return text;
}

// Checks a run against an outcome. Large vectors are compared without
// printing them whole.
void expectOutcome(const Outcome& expected, const RunResult& r) {
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(0, r.termSignal) << r.err;
  if (!expected.launches) {
    EXPECT_EQ(1, r.exitCode) << r;
    EXPECT_EQ(expected.error + "\n", r.err) << r;
    EXPECT_TRUE(r.record.calls.empty()) << r;
    return;
  }
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ("", r.err.substr(0, 2000));
  ASSERT_EQ(1u, r.record.calls.size()) << r.err;
  const e2e::LaunchCall& call = r.record.calls[0];
  EXPECT_EQ(static_cast<int>(expected.argv.size()), call.argc);
  EXPECT_TRUE(call.argv == expected.argv)
      << "expected " << describe(expected.argv) << "\nreceived "
      << describe(call.argv);
  if (!expected.dyld.empty()) {
    const auto it = call.env.find("DYLD_LIBRARY_PATH");
    ASSERT_TRUE(it != call.env.end() && it->second.has_value());
    EXPECT_TRUE(*it->second == expected.dyld)
        << "expected " << expected.dyld.size() << " bytes, received "
        << it->second->size();
  }
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

void runCases(const std::vector<Case>& cases,
              const std::string& cfg = mainClassCfg) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle("App", cfg);
    c.setUp(bundle);
    expectOutcome(c.expected(bundle), bundle.launch());
  }
}

TEST(HostileInput, ConfigurationContentLaunchesExactlyOrFailsWithOneLine) {
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
  runCases(cases);
}

// A named pipe would keep the launcher waiting for a writer, and a device
// like /dev/zero would be read until memory runs out: both are refused
// before they are opened.
TEST(HostileInput, FilesThatCouldNeverEndAreRefused) {
  const auto replaceByPipe = [](const std::string& path) {
    e2e::removePath(path);
    ASSERT_EQ(0, mkfifo(path.c_str(), 0644)) << path;
  };
  const auto replaceByEndlessDevice = [](const std::string& path) {
    e2e::removePath(path);
    fs::create_symlink("/dev/zero", path);
  };
  const std::vector<Case> cases = {
      {"configuration that is a named pipe",
       [&](const Bundle& b) { replaceByPipe(b.cfgPath()); },
       [](const Bundle& b) {
         return failureOf("Error opening \"" + b.cfgPath() +
                          "\" file: Not a regular file");
       }},
      {"configuration linked to /dev/zero",
       [&](const Bundle& b) { replaceByEndlessDevice(b.cfgPath()); },
       [](const Bundle& b) {
         return failureOf("Error opening \"" + b.cfgPath() +
                          "\" file: Not a regular file");
       }},
      {".package that is a named pipe",
       [&](const Bundle& b) { replaceByPipe(b.appDir() + "/.package"); },
       [](const Bundle& b) {
         return failureOf("Error opening \"" + b.appDir() +
                          "/.package\" file: Not a regular file");
       }},
      {".package linked to /dev/zero",
       [&](const Bundle& b) {
         replaceByEndlessDevice(b.appDir() + "/.package");
       },
       [](const Bundle& b) {
         return failureOf("Error opening \"" + b.appDir() +
                          "/.package\" file: Not a regular file");
       }},
      {"runtime library that is a named pipe",
       [&](const Bundle& b) { replaceByPipe(b.runtimeLib()); },
       [](const Bundle& b) {
         return failureOf("dlopen(" + b.runtimeLib() + ") failed. Error: " +
                          b.runtimeLib() + ": not a regular file");
       }},
  };
  runCases(cases);
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle("App", mainClassCfg);
    c.setUp(bundle);
    e2e::RunOptions options;
    options.timeoutSeconds = 120;
    expectOutcome(c.expected(bundle), e2e::run(bundle.launcher(), options));
  }
}

// Runs the launcher as the unprivileged user nobody, so that file modes
// keep it out (CI runs as root, who reads everything). The stand-in
// reports on standard output, which nobody can write to: its record file
// is in the harness's private directory.
class AsNobody {
 public:
  AsNobody() {
    if (geteuid() != 0) {
      return;  // already unprivileged: run directly
    }
    for (const char* candidate : {"/usr/bin/setpriv", "/bin/setpriv"}) {
      if (access(candidate, X_OK) == 0) {
        setpriv = candidate;
      }
    }
    if (setpriv.empty()) {
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
    if (!setpriv.empty()) {
      options.args = {"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                      bundle.launcher()};
      options.argv0 = setpriv;
      executable = setpriv;
    }
    RunResult r = e2e::run(executable, options);
    r.record = e2e::parseRecord(r.out);
    return r;
  }

 private:
  std::string setpriv;
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
    expectOutcome(launchOf(mainClassArgv(bundle)), r);
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle("App", mainClassCfg);
    c.setUp(bundle);
    expectOutcome(c.expected(bundle),
                  asNobody.launch(bundle, {"HOME=" + bundle.path("home")}));
  }
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle("App", mainClassCfg);
    c.setUp(bundle);
    expectOutcome(c.expected(bundle),
                  bundle.launch({}, {"HOME=" + bundle.path("home")}));
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

// A symbolic link to the launcher with a relative target is read relative
// to the link's own directory. Started from a directory where the same
// relative text names another bundle, the launcher must still start its
// own.
TEST(HostileInput, RelativeLauncherLinkIsNotResolvedAgainstTheWorkingDir) {
  const Bundle bundle("App", mainClassCfg, "real");
  const e2e::TempDir& t = bundle.temp();
  fs::create_directories(t / "links");
  fs::create_symlink("../real/App.app/Contents/MacOS/App", t / "links/App");
  // From <decoy>/cwd, the link's text names the decoy bundle's launcher.
  const Bundle decoy("App", "[Application]\napp.mainclass=decoy.Main\n",
                     "real");
  fs::create_directories(decoy.temp() / "cwd");
  e2e::RunOptions options;
  options.cwd = decoy.temp() / "cwd";

  const RunResult r = e2e::run(t / "links/App", options);

  const std::string resolved = t / "links/../real/App.app/Contents/MacOS/App";
  expectOutcome(
      launchOf({resolved, "-Dquern.app-path=" + resolved, "demo.Main"}), r);
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

  expectOutcome(failureOf("Error opening \"" + t / "a/Contents/app/second.cfg" +
                          "\" file: No such file or directory"),
                r);
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
    expectOutcome(launchOf(mainClassArgv(bundle)), bundle.launch({}, env));
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
    expectOutcome(
        launchOf(mainClassArgv(bundle), entries + "/last:" + bundle.appDir()),
        r);
  }
  {
    SCOPED_TRACE("app directory listed last: unchanged");
    const std::string value = entries + bundle.appDir();
    const RunResult r = bundle.launch({}, {"DYLD_LIBRARY_PATH=" + value});
    expectOutcome(launchOf(mainClassArgv(bundle), value), r);
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
    SCOPED_TRACE(describe(args).substr(0, 200));
    std::vector<std::string> argv = mainClassArgv(bundle);
    argv.insert(argv.end(), args.begin(), args.end());
    expectOutcome(launchOf(argv), bundle.launch(args));
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
    expectOutcome(launchOf(argv, ":" + bundle.appDir()),
                  bundle.launch({"$APPDIR"}));
  }
  for (const char* macro : {"$APPDIR", "$BINDIR", "$ROOTDIR"}) {
    SCOPED_TRACE(macro);
    bundle.writeCfg("[Application]\napp.classpath=" + std::string(macro) +
                    "/lib/a.zar\napp.mainclass=demo.Main\n");
    expectOutcome(failureOf("Macro expansion of \"app.classpath\" in section "
                            "\"Application\" does not settle"),
                  bundle.launch());
  }
}

TEST(HostileInput, OnlyTheExactDebugValueTrueSwitchesDiagnosticsOn) {
  const Bundle bundle("App", mainClassCfg);
  const Bundle broken("App", "[Application\n");
  const char* const offSpellings[] = {
      "",       "TRUE",   "True",     " true",       "true ", "true\n",
      "\ttrue", "1",      "yes",      "on",          "tru",   "truee",
      "false",  "true\r", "\"true\"", "t\xC3\xBCrue"};
  for (const char* spelling : offSpellings) {
    SCOPED_TRACE(std::string("QUERN_DEBUG=[") + spelling + "]");
    const e2e::Environment env = {std::string("QUERN_DEBUG=") + spelling};
    expectOutcome(launchOf(mainClassArgv(bundle)), bundle.launch({}, env));
    expectOutcome(failureOf("Error parsing [" + broken.cfgPath() +
                            "] file at 1: Missing ']' character"),
                  broken.launch({}, env));
  }
  {
    SCOPED_TRACE("QUERN_DEBUG=[true]");
    const RunResult r = bundle.launch({}, {"QUERN_DEBUG=true"});
    EXPECT_EQ(0, r.exitCode) << r;
    ASSERT_EQ(1u, r.record.calls.size()) << r;
    EXPECT_EQ(mainClassArgv(bundle), r.record.calls[0].argv);
    EXPECT_NE(std::string::npos, r.err.find("[TRACE] ")) << r;
  }
}

}  // namespace
