// What a user sees: exit status, the bare error line, and the diagnostics
// that QUERN_DEBUG=true switches on.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <regex>

#include "e2e/BundleHarness.h"

namespace {

using e2e::Bundle;
using e2e::RunResult;
using testsupport::endsWith;
using testsupport::startsWith;

const char kMainClassCfg[] = "[Application]\napp.mainclass=a.Main\n";

// One failure of each stage: reading the configuration, parsing it, and
// the runtime's own status. The exact messages of other failures are in
// HostileInputTest.cpp.
TEST(LauncherErrors, FailuresEndWithTheBareMessageAndExitStatusOne) {
  struct Case {
    const char* what;
    std::function<void(const Bundle&)> setUp;
    std::function<std::string(const Bundle&)> message;
    e2e::Environment env;
  };
  const Case cases[] = {
      {"missing configuration",
       [](const Bundle& b) { b.remove("Contents/app/App.cfg"); },
       [](const Bundle& b) {
         return "Error opening \"" + b.cfgPath() +
                "\" file: No such file or directory";
       },
       {}},
      {"section header without closing bracket",
       [](const Bundle& b) {
         b.writeCfg(e2e::readFile(e2e::fixturePath("e2e/missing-bracket.cfg")));
       },
       [](const Bundle& b) {
         return "Error parsing [" + b.cfgPath() +
                "] file at 5: Missing ']' character";
       },
       {}},
      {"runtime that returns non-zero",
       [](const Bundle&) {},
       [](const Bundle&) { return std::string("Failed to launch ZVM"); },
       {"ZLI_STANDIN_STATUS=3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle("App", kMainClassCfg);
    c.setUp(bundle);
    const std::string message = c.message(bundle);
    e2e::Environment debugEnv = c.env;
    debugEnv.push_back("QUERN_DEBUG=true");

    const RunResult quiet = bundle.launch({}, c.env);
    const RunResult debug = bundle.launch({}, debugEnv);

    EXPECT_EQ(1, quiet.exitCode) << quiet;
    EXPECT_EQ("", quiet.out) << quiet;
    EXPECT_EQ(message + "\n", quiet.err) << quiet;

    // With diagnostics on, the same line comes after the report of the
    // error with its source position, and before the frame's exit trace.
    EXPECT_EQ(1, debug.exitCode) << debug;
    const std::vector<std::string> lines = debug.errLines();
    ASSERT_GE(lines.size(), 3u) << debug;
    const std::string& report = lines[lines.size() - 3];
    EXPECT_TRUE(startsWith(report, "[ERROR] app.cpp:")) << debug;
    EXPECT_NE(std::string::npos, report.find(": Exception with message '"))
        << debug;
    EXPECT_NE(std::string::npos, report.find("(): " + message)) << debug;
    EXPECT_TRUE(endsWith(report, "' caught")) << debug;
    EXPECT_EQ(message, lines[lines.size() - 2]) << debug;
    EXPECT_NE(std::string::npos, lines.back().find("Exiting launch")) << debug;
    EXPECT_EQ(1u, debug.countErrLines("[ERROR] ")) << debug;
  }
}

TEST(LauncherDiagnostics, OnlyTheExactValueTrueSwitchesDiagnosticsOn) {
  const Bundle bundle("App", kMainClassCfg);
  const Bundle broken("App", "[Application\n");
  const std::optional<std::string> offValues[] = {
      std::nullopt, "",       "TRUE",   "True",     " true", "true ",
      "true\n",     "\ttrue", "true\r", "\"true\"", "1",     "yes",
      "on",         "t",      "tru",    "truee",    "false", "t\xC3\xBCrue"};
  for (const std::optional<std::string>& value : offValues) {
    SCOPED_TRACE(value ? "QUERN_DEBUG=[" + *value + "]" : "unset");
    e2e::Environment env;
    if (value) {
      env.push_back("QUERN_DEBUG=" + *value);
    }

    e2e::expectLaunched(
        bundle.launch({}, env),
        {bundle.launcher(), "-Dquern.app-path=" + bundle.launcher(), "a.Main"});
    e2e::expectFailed(broken.launch({}, env),
                      "Error parsing [" + broken.cfgPath() +
                          "] file at 1: Missing ']' character");
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
