// A failed start leaves its trace in the system log: every line a user sees
// on standard error without diagnostics, and nothing else. The launcher runs
// with a recorder of openlog and syslog preloaded (tests/helpers).

#include <gtest/gtest.h>
#include <syslog.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "e2e/BundleHarness.h"

namespace {

using e2e::Bundle;
using e2e::RunResult;

// What the recorder writes when `identity` logs each line in turn. No case
// below has a tab, newline or backslash in a name, which it would escape.
std::string expectedRecord(const std::string& identity,
                           const std::vector<std::string>& lines) {
  std::string record;
  for (const std::string& line : lines) {
    record += "openlog\t" + identity + "\t" + std::to_string(LOG_PID) + "\t" +
              std::to_string(LOG_USER) + "\n";
    record += "syslog\t" + std::to_string(LOG_ERR) + "\t%s\t" + line + "\n";
  }
  return record;
}

TEST(SystemLog, RecordsTheUserVisibleLinesOfOneAndTwoPassLaunches) {
  using Lines = std::vector<std::string>;
  struct Case {
    const char* what;
    std::string name;   // of the bundle and its launcher
    std::string argv0;  // empty: the launcher's path
    // Changes the bundle and returns the launcher's environment.
    std::function<e2e::Environment(const Bundle&)> setUp;
    int exitCode;
    std::string identity;
    std::function<Lines(const Bundle&)> logged;
  };
  const auto noCfg = [](const Bundle& b) {
    e2e::removePath(b.cfgPath());
    return e2e::Environment{};
  };
  const auto noCfgLine = [](const Bundle& b) {
    return Lines{"Error opening \"" + b.cfgPath() +
                 "\" file: No such file or directory"};
  };
  const auto failedTwice = [](const Bundle&) {
    return Lines{"Failed to launch ZVM", "Failed to launch ZVM"};
  };
  // The macOS loader's text for a library that does not load, given by the
  // recorder's stand-in of dlerror, and the one line the launcher makes of it.
  const std::string loaderText =
      "Library not loaded: z.dylib\n  Referenced from: /A\n  Reason: tried:"
      "\n\t'/A/z' (no such file),\r\n\t\t'/B' (no such file)";
  const std::string loaderLine =
      "Library not loaded: z.dylib   Referenced from: /A   Reason: tried: "
      "'/A/z' (no such file), '/B' (no such file)";
  const Case cases[] = {
      // The launcher's file name, not argv[0], names it.
      {"failed start", "App", "Renamed", noCfg, 1, "App", noCfgLine},
      {"successful start", "App", "",
       [](const Bundle&) { return e2e::Environment{}; }, 0, "",
       [](const Bundle&) { return Lines{}; }},
      {"failed start with diagnostics", "App", "",
       [&noCfg](const Bundle& b) {
         noCfg(b);
         return e2e::Environment{"QUERN_DEBUG=true"};
       },
       1, "App", noCfgLine},
      {"conversions in the name and the message", "App%s%n", "", noCfg, 1,
       "App%s%n", noCfgLine},
      {"both passes failed", "App", "",
       [](const Bundle&) {
         return e2e::Environment{"ZLI_STANDIN_REENTER=1",
                                 "ZLI_STANDIN_STATUS=7"};
       },
       1, "App", failedTwice},
      // The launcher's own path is lost, so argv[0] names it.
      {"launcher file gone before the second pass", "App", "Renamed",
       [](const Bundle& b) {
         return e2e::Environment{
             "ZLI_STANDIN_REENTER=1", "ZLI_STANDIN_STATUS=7",
             "ZLI_STANDIN_BEFORE_REENTER_UNLINK=" + b.launcher()};
       },
       1, "Renamed", failedTwice},
      {"loader text on several lines", "App", "",
       [&loaderText](const Bundle& b) {
         e2e::writeFile(b.runtimeLib(), "not a library\n");
         return e2e::Environment{"QUERN_LOADER_TEXT=" + loaderText};
       },
       1, "App",
       [&loaderLine](const Bundle& b) {
         return Lines{"dlopen(" + b.runtimeLib() +
                      ") failed. Error: " + loaderLine};
       }},
  };
  const std::string preload = e2e::syslogRecorderPreload();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bundle bundle(c.name, "[Application]\napp.mainclass=a.Main\n");
    const std::string recordPath = bundle.temp() / "syslog";
    e2e::RunOptions options;
    options.argv0 = c.argv0;
    options.env = c.setUp(bundle);
    const bool debug = std::count(options.env.begin(), options.env.end(),
                                  "QUERN_DEBUG=true") > 0;
    options.env.push_back("LD_PRELOAD=" + preload);
    options.env.push_back("QUERN_SYSLOG_RECORD=" + recordPath);
    const Lines logged = c.logged(bundle);

    const RunResult r = e2e::run(bundle.launcher(), options);

    EXPECT_EQ(c.exitCode, r.exitCode) << r;
    if (debug) {
      // The trace stays on standard error; its last line but one is the
      // one the system log gets.
      const Lines errLines = r.errLines();
      ASSERT_EQ(1u, logged.size());
      ASSERT_GE(errLines.size(), 3u) << r;
      EXPECT_EQ(logged[0], errLines[errLines.size() - 2]) << r;
    } else {
      std::string shown;
      for (const std::string& line : logged) {
        shown += line + "\n";
      }
      EXPECT_EQ(shown, r.err) << r;
    }
    const std::string record = std::filesystem::exists(recordPath)
                                   ? e2e::readFile(recordPath)
                                   : std::string();
    EXPECT_EQ(expectedRecord(c.identity, logged), record) << r;
  }
}

}  // namespace
