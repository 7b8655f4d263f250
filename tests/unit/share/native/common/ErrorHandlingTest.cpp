#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "ErrorHandling.h"
#include "helpers/LauncherTestSupport.h"

namespace {

using testsupport::RecordingLogAppender;
using testsupport::ScopedLogAppender;

// The throw site of ThrowMacroRecordsSitePositionAndBareMessage; the line is
// checked exactly, so the throw must stay two lines below this constant.
constexpr int kThrowLine = __LINE__ + 2;
void throwWithMacro(const std::string& path, int line) {
  QUERN_THROW("Error reading \"" << path << "\" at line " << line << ".");
}

TEST(ErrorHandlingThrow, ThrowMacroRecordsSitePositionAndBareMessage) {
  const std::string bare = "Error reading \"/tmp/x.cfg\" at line -3.";
  const std::string composed = "ErrorHandlingTest.cpp(" +
                               std::to_string(kThrowLine) +
                               ") at throwWithMacro(): " + bare;
  // The same thrown object gives the bare text through QuernErrorBase and
  // the composed one through std::runtime_error.
  try {
    throwWithMacro("/tmp/x.cfg", -3);
    FAIL() << "nothing thrown";
  } catch (const QuernErrorBase& e) {
    EXPECT_EQ(bare, e.rawMessage());
    const auto* asRuntime = dynamic_cast<const std::runtime_error*>(&e);
    ASSERT_NE(nullptr, asRuntime);
    EXPECT_EQ(composed, asRuntime->what());
  }
  try {
    throwWithMacro("/tmp/x.cfg", -3);
    FAIL() << "nothing thrown";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(composed, e.what());
  }
}

TEST(ErrorHandlingMakeException, ComposesBaseNameLineFunctionAndMessage) {
  struct Case {
    const char* file;
    const char* func;
    int line;
    const char* message;
    const char* what;
  };
  const Case cases[] = {
      {"plain.cpp", "f", 7, "bare", "plain.cpp(7) at f(): bare"},
      {"/src/dir/File.cpp", "load", 120, "m", "File.cpp(120) at load(): m"},
      // Either separator counts; only the last one of either kind matters.
      {"a/b\\c/d\\Mixed.cpp", "g", 1, "m", "Mixed.cpp(1) at g(): m"},
      {"a\\b/c\\d/Mixed2.cpp", "g", 1, "m", "Mixed2.cpp(1) at g(): m"},
      // A path ending in a separator has an empty base name.
      {"some/dir/", "h", 9, "m", "(9) at h(): m"},
      {"some\\dir\\", "h", 9, "m", "(9) at h(): m"},
      {"x.cpp", "empty", 3, "", "x.cpp(3) at empty(): "},
      {"x.cpp", "neg", -12, "m", "x.cpp(-12) at neg(): m"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + std::string(" / ") + c.message);
    const SourceCodePos pos(c.file, c.func, c.line);
    const QuernError<std::runtime_error> fromText =
        makeException(c.message, pos);
    EXPECT_EQ(c.what, std::string(fromText.what()));
    EXPECT_EQ(c.message, std::string(fromText.rawMessage()));

    tstrings::any built;
    built << c.message;
    const QuernError<std::runtime_error> fromBuilder =
        makeException(built, pos);
    EXPECT_EQ(c.what, std::string(fromBuilder.what()));
    EXPECT_EQ(c.message, std::string(fromBuilder.rawMessage()));

    EXPECT_EQ(c.what, makeMessage(std::runtime_error(c.message), pos));
  }
}

TEST(ErrorHandlingReport, LogsExactlyOneErrorEventAtTheReportPosition) {
  RecordingLogAppender recorder;
  {
    const ScopedLogAppender installed(&recorder);
    reportError(SourceCodePos("dir\\sub/Reporter.cpp", "catcher", 41),
                std::runtime_error("plain failure"));
    reportError(SourceCodePos("Reporter.cpp", "catcher", 42),
                makeException("bare", SourceCodePos("t/Thrower.cpp", "f", 5)));
    reportUnknownError(SourceCodePos("/abs/Reporter.cpp", "other", 43));
  }
  ASSERT_EQ(3u, recorder.events.size());

  struct Expected {
    int line;
    const char* func;
    const char* message;
  };
  const Expected expected[] = {
      // A plain runtime_error is quoted as it is, without a position.
      {41, "catcher", "Exception with message 'plain failure' caught"},
      // A QuernError is quoted with its composed text.
      {42, "catcher",
       "Exception with message 'Thrower.cpp(5) at f(): bare' caught"},
      {43, "other", "Unknown exception caught"},
  };
  for (size_t i = 0; i < recorder.events.size(); ++i) {
    SCOPED_TRACE(i);
    const LogEvent& e = recorder.events[i];
    EXPECT_EQ("ERROR", e.logLevel);
    EXPECT_EQ("Reporter.cpp", e.fileName);
    EXPECT_EQ(expected[i].line, e.lineNum);
    EXPECT_EQ(expected[i].func, e.funcName);
    EXPECT_EQ(expected[i].message, e.message);
  }
}

TEST(ErrorHandlingLastCRTError, GivesSystemTextOfCurrentErrno) {
  errno = 0;
  std::FILE* f = std::fopen("/nonexistent-dir-for-tests/missing.cfg", "r");
  ASSERT_EQ(nullptr, f);
  ASSERT_EQ(ENOENT, errno);
  EXPECT_EQ("No such file or directory", lastCRTError());
  // It reads errno anew on every call and does not change it.
  errno = EACCES;
  EXPECT_EQ("Permission denied", lastCRTError());
  EXPECT_EQ(EACCES, errno);
}

}  // namespace
