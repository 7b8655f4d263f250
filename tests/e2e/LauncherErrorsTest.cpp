// What a user sees: exit status, the bare error line, and the diagnostics
// that QUERN_DEBUG=true switches on.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <regex>

#include "e2e/BundleHarness.h"

namespace {

using e2e::Bundle;
using e2e::RunResult;

// A real shared library that has no ZLI_Launch: the system's maths library
// (not the C library, which must not be loaded twice into one process).
std::string libraryWithoutEntryPoint() {
  void* const handle = dlopen("libm.so.6", RTLD_LAZY);
  void* const function = handle ? dlsym(handle, "cos") : nullptr;
  Dl_info info;
  if (!function || !dladdr(function, &info) || !info.dli_fname) {
    return std::string();
  }
  return info.dli_fname;
}

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST(LauncherErrors, FailuresEndWithTheBareMessageAndExitStatusOne) {
  struct Case {
    const char* what;
    std::string subdir;  // where the bundle is made, below the temp dir
    std::function<void(const Bundle&)> setUp;
    std::function<std::string(const Bundle&)> message;
    bool wholeMessageKnown;  // else the message starts with message()
    e2e::Environment env;
    size_t runtimeCalls;
  };
  const std::string noEntryPoint = libraryWithoutEntryPoint();
  ASSERT_FALSE(noEntryPoint.empty());
  const Case cases[] = {
      {"missing configuration",
       "",
       [](const Bundle& b) { b.remove("Contents/app/App.cfg"); },
       [](const Bundle& b) {
         return "Error opening \"" + b.cfgPath() +
                "\" file: No such file or directory";
       },
       true,
       {},
       0},
      {"configuration that is a directory",
       "",
       [](const Bundle& b) {
         b.remove("Contents/app/App.cfg");
         b.write("Contents/app/App.cfg/inside", "");
       },
       [](const Bundle& b) {
         return "Failed to read \"" + b.cfgPath() +
                "\" file up to the end: Is a directory";
       },
       true,
       {},
       0},
      {"section header without closing bracket",
       "",
       [](const Bundle& b) {
         b.writeCfg(e2e::readFile(e2e::fixturePath("e2e/missing-bracket.cfg")));
       },
       [](const Bundle& b) {
         return "Error parsing [" + b.cfgPath() +
                "] file at 5: Missing ']' character";
       },
       true,
       {},
       0},
      {"macro whose value holds the macro itself",
       "in x$ROOTDIR",
       [](const Bundle& b) {
         b.writeCfg("[Application]\napp.classpath=$ROOTDIR/lib\n");
       },
       [](const Bundle&) {
         return std::string(
             "Macro expansion of \"app.classpath\" in section "
             "\"Application\" does not settle");
       },
       true,
       {},
       0},
      {"runtime library that is a text file",
       "",
       [](const Bundle& b) { e2e::writeFile(b.runtimeLib(), "no library\n"); },
       [](const Bundle& b) {
         return "dlopen(" + b.runtimeLib() + ") failed. Error: ";
       },
       false,
       {},
       0},
      {"runtime library without entry point",
       "",
       [&noEntryPoint](const Bundle& b) {
         e2e::copyFile(noEntryPoint, b.runtimeLib());
       },
       [](const Bundle& b) {
         return "dlsym(" + b.runtimeLib() + ", ZLI_Launch) failed. Error: ";
       },
       false,
       {},
       0},
      {"runtime that returns non-zero",
       "",
       [](const Bundle&) {},
       [](const Bundle&) { return std::string("Failed to launch ZVM"); },
       true,
       {"ZLI_STANDIN_STATUS=3"},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string cfg = "[Application]\napp.mainclass=a.Main\n";
    const Bundle bundle("App", cfg, c.subdir);
    c.setUp(bundle);
    const std::string message = c.message(bundle);
    e2e::Environment debugEnv = c.env;
    debugEnv.push_back("QUERN_DEBUG=true");

    const RunResult quiet = bundle.launch({}, c.env);
    const RunResult debug = bundle.launch({}, debugEnv);

    EXPECT_EQ(1, quiet.exitCode) << quiet;
    EXPECT_EQ("", quiet.out) << quiet;
    EXPECT_EQ(c.runtimeCalls, quiet.record.calls.size()) << quiet;
    if (c.wholeMessageKnown) {
      EXPECT_EQ(message + "\n", quiet.err) << quiet;
    } else {
      EXPECT_TRUE(startsWith(quiet.err, message)) << quiet;
      EXPECT_EQ(1u, quiet.errLines().size()) << quiet;
      EXPECT_TRUE(endsWith(quiet.err, "\n")) << quiet;
    }

    // With diagnostics on, the same line comes after the report of the
    // error with its source position, and before the frame's exit trace.
    EXPECT_EQ(1, debug.exitCode) << debug;
    const std::vector<std::string> lines = debug.errLines();
    ASSERT_GE(lines.size(), 3u) << debug;
    const std::string& report = lines[lines.size() - 3];
    const std::string& bare = lines[lines.size() - 2];
    EXPECT_TRUE(startsWith(report, "[ERROR] app.cpp:")) << debug;
    EXPECT_NE(std::string::npos, report.find(": Exception with message '"))
        << debug;
    EXPECT_NE(std::string::npos, report.find("(): " + message)) << debug;
    EXPECT_TRUE(endsWith(report, "' caught")) << debug;
    EXPECT_EQ(quiet.errLines().back(), bare) << debug;
    EXPECT_NE(std::string::npos, lines.back().find("Exiting launch")) << debug;
    size_t errors = 0;
    for (const std::string& line : lines) {
      errors += startsWith(line, "[ERROR] ") ? 1 : 0;
    }
    EXPECT_EQ(1u, errors) << debug;
  }
}

TEST(LauncherDiagnostics, OnlyTheExactValueTrueSwitchesDiagnosticsOn) {
  const Bundle bundle("App", "[Application]\napp.mainclass=a.Main\n");
  const Bundle broken("App", "[Application\n");
  const std::string brokenMessage = "Error parsing [" + broken.cfgPath() +
                                    "] file at 1: Missing ']' character\n";
  const std::optional<std::string> values[] = {
      std::nullopt, "",  "TRUE", "True", "true ", " true",
      "true\n",     "1", "yes",  "on",   "truee", "t"};
  for (const std::optional<std::string>& value : values) {
    SCOPED_TRACE(value ? "QUERN_DEBUG=[" + *value + "]" : "unset");
    e2e::Environment env;
    if (value) {
      env.push_back("QUERN_DEBUG=" + *value);
    }

    const RunResult ok = bundle.launch({}, env);
    const RunResult failed = broken.launch({}, env);

    EXPECT_EQ(0, ok.exitCode) << ok;
    EXPECT_EQ("", ok.err) << ok;
    EXPECT_EQ("", ok.out) << ok;
    EXPECT_EQ(1u, ok.record.calls.size()) << ok;
    EXPECT_EQ(1, failed.exitCode) << failed;
    EXPECT_EQ(brokenMessage, failed.err) << failed;
  }
}

TEST(LauncherDiagnostics, SuccessfulLaunchTracesBothSides) {
  const Bundle bundle("App",
                      "[Application]\n"
                      "app.classpath=$APPDIR/a.zar\n"
                      "app.splash=$APPDIR/missing.png\n"
                      "app.mainclass=a.Main\n"
                      "[ArgOptions]\n"
                      "arguments=with blank\n");

  const RunResult r = bundle.launch({}, {"QUERN_DEBUG=true"});

  EXPECT_EQ(0, r.exitCode) << r;
  EXPECT_EQ("", r.out) << r;
  ASSERT_EQ(1u, r.record.calls.size()) << r;
  const std::vector<std::string>& argv = r.record.calls[0].argv;
  const std::vector<std::string> expectedArgv = {
      bundle.launcher(),
      "-classpath",
      bundle.appDir() + "/a.zar",
      "-Dquern.app-path=" + bundle.launcher(),
      "a.Main",
      "with blank"};
  EXPECT_EQ(expectedArgv, argv) << r;

  // Every line is either the logger's or the flat side's.
  const std::regex loggerLine(
      R"(\[(TRACE|WARNING|ERROR)\] [A-Za-z]+\.(cpp|c):[0-9]+: .+)");
  const std::regex flatLine(R"(ZvmLauncherLib\.c:[0-9]+: .+)");
  const std::vector<std::string> lines = r.errLines();
  ASSERT_GE(lines.size(), 2u) << r;
  std::vector<std::string> flat;
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_TRUE(std::regex_match(line, loggerLine) ||
                std::regex_match(line, flatLine));
    EXPECT_FALSE(startsWith(line, "[ERROR]"));
    if (startsWith(line, "ZvmLauncherLib.c:")) {
      flat.push_back(line.substr(line.find(": ") + 2));
    }
  }
  EXPECT_TRUE(std::regex_match(
      lines.front(),
      std::regex(R"(\[TRACE\] app\.cpp:[0-9]+: Entering launch)")))
      << r;
  EXPECT_NE(std::string::npos, lines.back().find("Exiting launch")) << r;

  std::vector<std::string> expectedFlat = {"zli lib: [" + bundle.runtimeLib() +
                                           "]"};
  for (size_t i = 0; i < argv.size(); ++i) {
    expectedFlat.push_back("zli arg[" + std::to_string(i) + "]: [" + argv[i] +
                           "]");
  }
  expectedFlat.push_back("env var[0]: DYLD_LIBRARY_PATH=[:" + bundle.appDir() +
                         "]");
  EXPECT_EQ(expectedFlat, flat) << r;

  const std::string lookedUp =
      "Launcher config file path: \"" + bundle.cfgPath() + "\"";
  const std::string warning = "[WARNING] ZvmLauncher.cpp:";
  const std::string splash = ": Splash property ignored. File \"" +
                             bundle.appDir() + "/missing.png\" not found";
  size_t lookups = 0;
  size_t warnings = 0;
  for (const std::string& line : lines) {
    lookups += endsWith(line, lookedUp) ? 1 : 0;
    warnings += startsWith(line, warning) && endsWith(line, splash) ? 1 : 0;
  }
  EXPECT_EQ(1u, lookups) << r;
  EXPECT_EQ(1u, warnings) << r;
}

}  // namespace
