// The error alert that a bundle switches on with QUERN_ERROR_ALERT=true:
// what reaches it, in which order, and that without the switch, or when the
// alert cannot be shown, a failed start stays exactly as it was. The
// launcher finds a recording stand-in of the CoreFoundation functions on
// LD_LIBRARY_PATH (tests/helpers/CoreFoundationStandIn.c).

#include <gtest/gtest.h>
#include <syslog.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "ErrorAlert.h"
#include "e2e/BundleHarness.h"

namespace {

using e2e::Bundle;
using e2e::RunResult;
using Lines = std::vector<std::string>;

const char kCfg[] = "[Application]\napp.mainclass=a.Main\n";

std::string missingCfgLine(const Bundle& b) {
  return "Error opening \"" + b.cfgPath() +
         "\" file: No such file or directory";
}

// Runs the bundle with the stand-in in `cfDir` found first, recording into
// temp()/record.
RunResult runWithStandIn(const Bundle& b, e2e::Environment env,
                         const std::string& cfDir = QUERN_CF_STANDIN_DIR) {
  env.push_back("LD_LIBRARY_PATH=" + cfDir);
  env.push_back("CF_STANDIN_RECORD=" + b.temp() / "record");
  return b.launch({}, env);
}

std::string record(const Bundle& b) {
  const std::string path = b.temp() / "record";
  return std::filesystem::exists(path) ? e2e::readFile(path) : "";
}

TEST(ErrorAlert, ShowsTheLineAfterStandardErrorAndTheSystemLog) {
  struct Case {
    const char* what;
    std::string name;
    e2e::Environment env;
    bool cfgMissing;  // else both passes fail in the runtime
    int sleepMs;      // how long the stand-in's user takes to answer
  };
  const Case cases[] = {
      {"missing configuration", "App", {}, true, 0},
      {"a user who answers late",
       "App",
       {"CF_STANDIN_SLEEP_MS=1500"},
       true,
       1500},
      {"conversions and bytes that are not UTF-8", "App%s%n\xe9", {}, true, 0},
      {"both passes failed",
       "App",
       {"ZLI_STANDIN_REENTER=1", "ZLI_STANDIN_STATUS=7"},
       false,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle(c.name, kCfg);
    if (c.cfgMissing) {
      e2e::removePath(bundle.cfgPath());
    }
    e2e::Environment env = c.env;
    env.insert(env.end(), {"QUERN_ERROR_ALERT=true", "CF_STANDIN_MARK=1",
                           "LD_PRELOAD=" + e2e::syslogRecorderPreload(),
                           "QUERN_SYSLOG_RECORD=" + bundle.temp() / "record"});
    const Lines lines =
        c.cfgMissing ? Lines{missingCfgLine(bundle)}
                     : Lines{"Failed to launch ZVM", "Failed to launch ZVM"};
    // The header is the application's name; bytes that are not UTF-8 come
    // as U+FFFD, in the name and the line alike.
    const auto utf8 = [](std::string text) {
      for (size_t at; (at = text.find('\xe9')) != std::string::npos;) {
        text.replace(at, 1, "\xef\xbf\xbd");
      }
      return text;
    };
    std::string err, expected;
    for (const std::string& line : lines) {
      err += line + "\n[alert]\n";
      std::ostringstream alert;
      alert << "alert\t" << ErrorAlert::timeoutSeconds << "\t0\t"
            << utf8(c.name) << "\t" << utf8(line) << "\tOK\t(null)\t(null)\n";
      expected += "openlog\t" + c.name + "\t" + std::to_string(LOG_PID) + "\t" +
                  std::to_string(LOG_USER) + "\nsyslog\t" +
                  std::to_string(LOG_ERR) + "\t%s\t" + line + "\nloaded\n" +
                  alert.str() + "unloaded\t0\n";
    }

    const auto start = std::chrono::steady_clock::now();
    const RunResult r = runWithStandIn(bundle, env);
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(1, r.exitCode) << r;
    EXPECT_EQ(err, r.err) << r;
    EXPECT_EQ(expected, record(bundle)) << r;
    EXPECT_GE(took, std::chrono::milliseconds(c.sleepMs)) << r;
  }
}

TEST(ErrorAlert, WithoutTheExactSwitchTheFrameworkIsNeverOpened) {
  const char* const spellings[] = {nullptr, "", "True", "1", "yes", "true "};
  for (const char* spelling : spellings) {
    SCOPED_TRACE(spelling ? "QUERN_ERROR_ALERT=[" + std::string(spelling) + "]"
                          : "QUERN_ERROR_ALERT unset");
    const Bundle bundle("App", kCfg);
    e2e::removePath(bundle.cfgPath());
    e2e::Environment env;
    if (spelling) {
      env.push_back("QUERN_ERROR_ALERT=" + std::string(spelling));
    }
    const RunResult r = runWithStandIn(bundle, env);
    EXPECT_EQ(1, r.exitCode) << r;
    EXPECT_EQ(missingCfgLine(bundle) + "\n", r.err) << r;
    EXPECT_EQ("", record(bundle)) << r;
  }
  SCOPED_TRACE("successful start with the switch on");
  const Bundle bundle("App", kCfg);
  const RunResult r = runWithStandIn(bundle, {"QUERN_ERROR_ALERT=true"});
  EXPECT_EQ(0, r.exitCode) << r;
  EXPECT_EQ("", r.err) << r;
  EXPECT_EQ("", record(bundle)) << r;
}

TEST(ErrorAlert, AnAlertThatCannotBeShownChangesNothingButOneDiagnostic) {
  struct Case {
    const char* what;
    std::string cfDir;  // empty: a directory without the stand-in
    e2e::Environment env;
    std::string why;
  };
  const Case cases[] = {
      {"no library",
       "",
       {},
       "dlopen(libCoreFoundation.so) failed. Error: libCoreFoundation.so: "},
      {"a function missing",
       QUERN_CF_STANDIN_PARTIAL_DIR,
       {},
       "dlsym(libCoreFoundation.so, CFUserNotificationDisplayAlert) failed. "},
      {"the alert failing",
       QUERN_CF_STANDIN_DIR,
       {"CF_STANDIN_FAIL=1"},
       "CFUserNotificationDisplayAlert() returned -1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle("App", kCfg);
    e2e::removePath(bundle.cfgPath());
    const std::string cfDir =
        c.cfDir.empty() ? bundle.temp() / "none" : c.cfDir;
    const auto run = [&](e2e::Environment env) {
      env.insert(env.end(), c.env.begin(), c.env.end());
      return runWithStandIn(bundle, env, cfDir);
    };
    const RunResult quiet = run({"QUERN_ERROR_ALERT=true"});
    const RunResult off = run({"QUERN_DEBUG=true"});
    const RunResult on = run({"QUERN_DEBUG=true", "QUERN_ERROR_ALERT=true"});

    EXPECT_EQ(1, quiet.exitCode) << quiet;
    EXPECT_EQ(missingCfgLine(bundle) + "\n", quiet.err) << quiet;
    // With diagnostics, one line after the error line says why.
    EXPECT_EQ(1, on.exitCode) << on;
    Lines lines = on.errLines();
    ASSERT_EQ(off.errLines().size() + 1, lines.size()) << on << off;
    const std::string why = lines[lines.size() - 2];
    EXPECT_TRUE(testsupport::startsWith(why, "[WARNING] app.cpp:")) << on;
    EXPECT_NE(std::string::npos, why.find(": No error alert shown: " + c.why))
        << on;
    lines.erase(lines.end() - 2);
    EXPECT_EQ(off.errLines(), lines) << on << off;
  }
}

}  // namespace
