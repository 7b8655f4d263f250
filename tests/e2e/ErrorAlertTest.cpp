// The error alert that QUERN_ERROR_ALERT=true switches on, with a recording
// stand-in of the CoreFoundation functions first on LD_LIBRARY_PATH
// (tests/helpers/CoreFoundationStandIn.c).

#include <gtest/gtest.h>
#include <syslog.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "ErrorAlert.h"
#include "e2e/BundleHarness.h"

namespace {

using e2e::Bundle;

e2e::RunResult runWithStandIn(const Bundle& b, e2e::Environment env,
                              const std::string& cfDir) {
  env.push_back("LD_LIBRARY_PATH=" + cfDir);
  env.push_back("CF_STANDIN_RECORD=" + b.temp() / "record");
  return b.launch({}, env);
}

std::string record(const Bundle& b) {
  const std::string path = b.temp() / "record";
  return std::filesystem::exists(path) ? e2e::readFile(path) : "";
}

// Removes the configuration; returns the line that the launcher then prints.
std::string noCfg(const Bundle& b) {
  e2e::removePath(b.cfgPath());
  return "Error opening \"" + b.cfgPath() +
         "\" file: No such file or directory";
}

// After the system log, each failed pass shows its line, with U+FFFD for a
// byte that is not UTF-8 (\xe9) in it and in the name, and waits for it.
TEST(ErrorAlert, ShowsEachFailedPassAfterStandardErrorAndTheSystemLog) {
  const struct {
    std::string name, env;
    int passes, sleepMs;  // 2 passes: both fail in the runtime
  } cases[] = {{"App", "CF_STANDIN_SLEEP_MS=1500", 1, 1500},
               {"App%s%n\xe9", "", 1, 0},
               {"App", "ZLI_STANDIN_REENTER=1", 2, 0}};
  const auto utf8 = [](std::string s) {
    for (size_t at; (at = s.find('\xe9')) != std::string::npos;) {
      s.replace(at, 1, "\xef\xbf\xbd");
    }
    return s;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + " " + c.env);
    const Bundle b(c.name, "[Application]\napp.mainclass=a.Main\n");
    const std::string line = c.passes == 1 ? noCfg(b) : "Failed to launch ZVM";
    std::ostringstream err, expected;
    for (int i = 0; i != c.passes; ++i) {
      err << line << "\n[alert]\n";
      expected << "openlog\t" << c.name << "\t" << LOG_PID << "\t" << LOG_USER
               << "\nsyslog\t" << LOG_ERR << "\t%s\t" << line
               << "\nloaded\nalert\t" << ErrorAlert::timeoutSeconds << "\t0\t"
               << utf8(c.name) << "\t" << utf8(line)
               << "\tOK\t(null)\t(null)\nunloaded\t0\n";
    }
    const auto start = std::chrono::steady_clock::now();
    const e2e::RunResult r = runWithStandIn(
        b,
        {c.env, "ZLI_STANDIN_STATUS=7", "QUERN_ERROR_ALERT=true",
         "CF_STANDIN_MARK=1", "LD_PRELOAD=" + e2e::syslogRecorderPreload(),
         "QUERN_SYSLOG_RECORD=" + b.temp() / "record"},
        QUERN_CF_STANDIN_DIR);
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(c.sleepMs));
    EXPECT_EQ(1, r.exitCode) << r;
    EXPECT_EQ(err.str(), r.err) << r;
    EXPECT_EQ(expected.str(), record(b)) << r;
  }
}

// Without the exact switch, and on success, the stand-in is never loaded;
// an alert that cannot be shown adds one diagnostic line, nothing else.
TEST(ErrorAlert, OtherwiseTheLaunchIsAsWithoutIt) {
  const std::string cf = QUERN_CF_STANDIN_DIR, on = "QUERN_ERROR_ALERT=true",
                    lacking = QUERN_CF_STANDIN_PARTIAL_DIR,
                    alert = "CFUserNotificationDisplayAlert";
  const struct {
    e2e::Environment env;
    std::string cfDir, whyNot;  // no whyNot: never loaded
    bool fails;
  } cases[] = {
      {{}, cf, "", true},
      {{"QUERN_ERROR_ALERT=True"}, cf, "", true},
      {{on + " "}, cf, "", true},
      {{on}, cf, "", false},
      {{on}, "/nonexistent", "dlopen(libCoreFoundation.so) failed.", true},
      {{on}, lacking, "dlsym(libCoreFoundation.so, " + alert + ")", true},
      {{on, "CF_STANDIN_FAIL=1"}, cf, alert + "() returned -1", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.env) + " " + c.cfDir);
    const Bundle b("App", "[Application]\napp.mainclass=a.Main\n");
    const std::string line = c.fails ? noCfg(b) + "\n" : "";
    const e2e::RunResult r = runWithStandIn(b, c.env, c.cfDir);
    EXPECT_EQ(c.fails ? 1 : 0, r.exitCode) << r;
    EXPECT_EQ(line, r.err) << r;
    if (c.whyNot.empty()) {
      EXPECT_EQ("", record(b)) << r;
      continue;
    }
    // With diagnostics, one line after the error line says why.
    e2e::Environment debug = c.env;
    debug.push_back("QUERN_DEBUG=true");
    auto lines = runWithStandIn(b, debug, c.cfDir).errLines();
    const auto off =
        runWithStandIn(b, {"QUERN_DEBUG=true"}, c.cfDir).errLines();
    ASSERT_EQ(off.size() + 1, lines.size());
    const std::string why = lines[off.size() - 1];
    EXPECT_EQ(0u, why.find("[WARNING] app.cpp:")) << why;
    EXPECT_NE(std::string::npos,
              why.find(": No error alert shown: " + c.whyNot))
        << why;
    lines.erase(lines.begin() + off.size() - 1);
    EXPECT_EQ(off, lines);
  }
}

}  // namespace
