#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "Log.h"
#include "helpers/LauncherTestSupport.h"

namespace {

using testsupport::RecordingLogAppender;
using testsupport::ScopedLogAppender;

TEST(LogLogger, FillsEventWithLevelNameBaseNameAndCallSite) {
  const struct {
    int level;
    const char* file;
    const char* levelName;
    const char* fileName;
  } cases[] = {
      {0, "Plain.cpp", "TRACE", "Plain.cpp"},
      {1, "/src/share/native/common/Log.cpp", "INFO", "Log.cpp"},
      {2, "c:\\src\\Win.cpp", "WARNING", "Win.cpp"},
      {3, "a\\b/c\\Mixed.cpp", "ERROR", "Mixed.cpp"},
      {4, "dir/", "UNKNOWN", ""},
      {7, "x.cpp", "UNKNOWN", "x.cpp"},
      {-1, "x.cpp", "UNKNOWN", "x.cpp"},
  };
  RecordingLogAppender recorder;
  {
    const ScopedLogAppender installed(&recorder);
    for (const auto& c : cases) {
      Logger::defaultLogger().log(static_cast<Logger::LogLevel>(c.level),
                                  c.file, 10 + c.level, "fn", "message");
    }
    // The logger does not filter: an empty message is still an event.
    Logger::defaultLogger().log(Logger::TRACE, "e.cpp", 1, "f", "");
  }
  ASSERT_EQ(std::size(cases) + 1, recorder.events.size());
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.level);
    const LogEvent& e = recorder.events[i];
    EXPECT_EQ(c.levelName, e.logLevel);
    EXPECT_EQ(c.fileName, e.fileName);
    EXPECT_EQ(10 + c.level, e.lineNum);
    EXPECT_EQ("fn", e.funcName);
    EXPECT_EQ("message", e.message);
  }
  EXPECT_EQ("", recorder.events.back().message);

  // Every level the launcher uses passes the default threshold.
  for (Logger::LogLevel level :
       {Logger::TRACE, Logger::INFO, Logger::WARNING, Logger::ERROR}) {
    EXPECT_TRUE(Logger::defaultLogger().isLoggable(level)) << level;
  }
}

TEST(LogStreamLogAppender, WritesTwoLinesPerEvent) {
  std::ostringstream out;
  StreamLogAppender appender(out);
  LogEvent event;
  event.logLevel = "TRACE";
  event.fileName = "app.cpp";
  event.lineNum = 95;
  event.funcName = "launch";
  event.message = "Entering launch";
  appender.append(event);
  event.logLevel = "ERROR";
  event.lineNum = 0;
  event.message = "";
  appender.append(event);
  EXPECT_EQ(
      "[app.cpp:95 (launch)]\n\tTRACE: Entering launch\n"
      "[app.cpp:0 (launch)]\n\tERROR: \n",
      out.str());

  // Through the logger, the base name and the level name reach the text.
  std::ostringstream viaLogger;
  StreamLogAppender loggerAppender(viaLogger);
  {
    const ScopedLogAppender installed(&loggerAppender);
    Logger::defaultLogger().log(Logger::WARNING, "/a/b/Cfg.cpp", -4, "load",
                                "value 'x'");
  }
  EXPECT_EQ("[Cfg.cpp:-4 (load)]\n\tWARNING: value 'x'\n", viaLogger.str());
}

TEST(LogTeeLogAppender, ForwardsToFirstThenSecondSkippingNull) {
  std::vector<std::string> order;
  RecordingLogAppender first(&order, "first");
  RecordingLogAppender second(&order, "second");
  LogEvent event;
  event.message = "m";

  TeeLogAppender(&first, &second).append(event);
  EXPECT_EQ((std::vector<std::string>{"first", "second"}), order);

  order.clear();
  TeeLogAppender(nullptr, &second).append(event);
  EXPECT_EQ((std::vector<std::string>{"second"}), order);

  order.clear();
  TeeLogAppender(&first, nullptr).append(event);
  EXPECT_EQ((std::vector<std::string>{"first"}), order);

  order.clear();
  TeeLogAppender(nullptr, nullptr).append(event);
  EXPECT_TRUE(order.empty());
  ASSERT_EQ(2u, first.events.size());
  EXPECT_EQ("m", first.events[1].message);
}

TEST(LogWithExtraLogAppender, NestedInstallersRestoreInReverseOrder) {
  std::vector<std::string> order;
  RecordingLogAppender base(&order, "base");
  RecordingLogAppender outer(&order, "outer");
  RecordingLogAppender inner(&order, "inner");
  const auto logOne = [&order](const char* message) {
    order.clear();
    Logger::defaultLogger().log(Logger::TRACE, "f.cpp", 1, "f", message);
    return order;
  };
  using Names = std::vector<std::string>;

  const ScopedLogAppender installed(&base);
  {
    const WithExtraLogAppender withOuter(outer);
    EXPECT_NE(&base, Logger::defaultLogger().getAppender());
    EXPECT_EQ((Names{"base", "outer"}), logOne("one"));
    {
      const WithExtraLogAppender withInner(inner);
      EXPECT_EQ((Names{"base", "outer", "inner"}), logOne("two"));
    }
    EXPECT_EQ((Names{"base", "outer"}), logOne("three"));
  }
  EXPECT_EQ(&base, Logger::defaultLogger().getAppender());
  EXPECT_EQ((Names{"base"}), logOne("four"));
  ASSERT_EQ(1u, inner.events.size());
  EXPECT_EQ("two", inner.events[0].message);
}

TEST(LogScopeTracer, LogsEntryAndExitWithConstructionSite) {
  RecordingLogAppender recorder;
  {
    const ScopedLogAppender installed(&recorder);
    {
      const Logger::ScopeTracer tracer(Logger::defaultLogger(), Logger::TRACE,
                                       "src\\dir/Tracer.cpp", 42, "work",
                                       "the scope");
      ASSERT_EQ(1u, recorder.events.size());
    }
    // A level below the threshold logs neither event.
    {
      const Logger::ScopeTracer silent(Logger::defaultLogger(),
                                       static_cast<Logger::LogLevel>(-1),
                                       "Tracer.cpp", 1, "quiet", "silent");
    }
  }
  const struct {
    int line;
    const char* message;
  } expected[] = {{42, "Entering the scope"},
                  {0, "Exiting the scope (entered at Tracer.cpp:42)"}};
  ASSERT_EQ(std::size(expected), recorder.events.size());
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].message);
    const LogEvent& e = recorder.events[i];
    EXPECT_EQ("TRACE", e.logLevel);
    EXPECT_EQ("Tracer.cpp", e.fileName);
    EXPECT_EQ(expected[i].line, e.lineNum);
    EXPECT_EQ("work", e.funcName);
    EXPECT_EQ(expected[i].message, e.message);
  }
}

}  // namespace
