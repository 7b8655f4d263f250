#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <regex>
#include <stdexcept>
#include <string>

#include "ErrorHandling.h"
#include "Log.h"
#include "app.h"
#include "helpers/TestSupport.h"

namespace {

const char kBareMessage[] = "Error opening \"/b/Contents/app/a.cfg\" file";

void succeed() { LOG_TRACE("working on " << 3 << " items"); }
void throwQuernError() { QUERN_THROW(kBareMessage); }
void throwRuntimeError() {
  // The run frame's last-error line is the text of errno, not this
  // exception's own text, which only the ERROR report quotes.
  errno = ENOENT;
  throw std::runtime_error("own text of the exception");
}
void throwInt() { throw 42; }

// An extra appender that writes its own marker line for every event it gets.
class MarkingAppender : public LogAppender {
 public:
  void append(const LogEvent& v) override {
    std::cerr << "extra got " << v.logLevel << ": " << v.message << std::endl;
  }
};

// Runs app::launch in a child process with QUERN_DEBUG set to `debug`
// (unset when null), exactly as the launcher's main would call it.
testsupport::ChildResult launchInChild(const char* debug,
                                       app::LauncherFunc func,
                                       LogAppender* extra = nullptr) {
  return testsupport::runInChild([&]() {
    if (debug) {
      setenv("QUERN_DEBUG", debug, 1);
    } else {
      unsetenv("QUERN_DEBUG");
    }
    return app::launch(std::nothrow, func, extra);
  });
}

std::string escapeRegex(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

// The whole standard error of a run with diagnostics on: the tracer's entry
// line, `middle` (a regular expression), the tracer's exit line naming the
// entry line.
std::string tracedRun(const std::string& middle) {
  return R"(\[TRACE\] app\.cpp:(\d+): Entering launch\n)" + middle +
         R"(\[TRACE\] app\.cpp:0: Exiting launch \(entered at app\.cpp:\1\)\n)";
}

TEST(AppLaunch, DiagnosticsOffPrintsOnlyTheBareErrorLine) {
  const std::string noEntry = std::strerror(ENOENT);
  const struct {
    const char* name;
    app::LauncherFunc func;
    int status;
    std::string err;
  } works[] = {
      {"success", succeed, 0, ""},
      {"QuernError", throwQuernError, 1, std::string(kBareMessage) + "\n"},
      {"runtime_error", throwRuntimeError, 1, noEntry + "\n"},
      {"int", throwInt, 1, "Unknown error\n"},
  };
  // Which values switch diagnostics on is LauncherErrorsTest's table.
  for (const auto& w : works) {
    SCOPED_TRACE(w.name);
    const testsupport::ChildResult o = launchInChild(nullptr, w.func);
    EXPECT_EQ(w.status, o.exitCode);
    EXPECT_EQ(w.err, o.err);
    EXPECT_EQ("", o.out);
  }
}

TEST(AppLaunch, DiagnosticsOnTracesAndReportsEachFailure) {
  const struct {
    const char* name;
    app::LauncherFunc func;
    int status;
    std::string middle;
  } works[] = {
      {"success", succeed, 0,
       R"(\[TRACE\] appTest\.cpp:\d+: working on 3 items\n)"},
      {"QuernError", throwQuernError, 1,
       R"(\[ERROR\] app\.cpp:\d+: Exception with message 'appTest\.cpp\(\d+\) at throwQuernError\(\): )" +
           escapeRegex(kBareMessage) + R"(' caught\n)" +
           escapeRegex(kBareMessage) + R"(\n)"},
      {"runtime_error", throwRuntimeError, 1,
       R"(\[ERROR\] app\.cpp:\d+: Exception with message 'own text of the exception' caught\n)" +
           escapeRegex(std::strerror(ENOENT)) + R"(\n)"},
      {"int", throwInt, 1,
       R"(\[ERROR\] app\.cpp:\d+: Unknown exception caught\nUnknown error\n)"},
  };
  for (const auto& w : works) {
    SCOPED_TRACE(w.name);
    const testsupport::ChildResult o = launchInChild("true", w.func);
    EXPECT_EQ(w.status, o.exitCode);
    EXPECT_TRUE(std::regex_match(o.err, std::regex(tracedRun(w.middle))))
        << o.err;
    EXPECT_EQ("", o.out);
  }
}

TEST(AppLaunch, ExtraAppenderReplacesTheLastErrorLine) {
  MarkingAppender extra;
  const std::string report =
      R"(Exception with message 'appTest\.cpp\(\d+\) at throwQuernError\(\): )" +
      escapeRegex(kBareMessage) + R"(' caught\n)";
  const struct {
    const char* debug;
    app::LauncherFunc func;
    int status;
    std::string err;
  } cases[] = {
      // The extra appender gets the report instead of the bare line.
      {nullptr, throwQuernError, 1, "extra got ERROR: " + report},
      {"true", throwQuernError, 1,
       tracedRun(R"(\[ERROR\] app\.cpp:\d+: )" + report +
                 "extra got ERROR: " + report)},
      // It is added only once the work has ended and removed before the
      // tracer's exit event, so a successful run never reaches it.
      {nullptr, succeed, 0, ""},
      {"true", succeed, 0,
       tracedRun(R"(\[TRACE\] appTest\.cpp:\d+: working on 3 items\n)")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.debug ? "on, " : "off, ") +
                 (c.status ? "failure" : "success"));
    const testsupport::ChildResult o = launchInChild(c.debug, c.func, &extra);
    EXPECT_EQ(c.status, o.exitCode);
    EXPECT_TRUE(std::regex_match(o.err, std::regex(c.err))) << o.err;
    EXPECT_EQ("", o.out);
  }
}

}  // namespace
