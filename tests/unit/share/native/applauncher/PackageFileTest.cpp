#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "PackageFile.h"
#include "helpers/LauncherTestSupport.h"
#include "helpers/TestSupport.h"

namespace {

using testsupport::RecordingLogAppender;
using testsupport::ScopedLogAppender;
using testsupport::TempDir;

std::string fixture(const std::string& name) {
  return testsupport::fixturePath("package/" + name);
}

// The messages of the recorded events, each checked to come from the
// package file reader.
std::vector<std::string> messagesOf(const RecordingLogAppender& log) {
  std::vector<std::string> messages;
  for (const LogEvent& e : log.events) {
    EXPECT_EQ("TRACE", e.logLevel) << e.message;
    EXPECT_EQ("PackageFile.cpp", e.fileName) << e.message;
    EXPECT_EQ("loadFromAppDir", e.funcName) << e.message;
    messages.push_back(e.message);
  }
  return messages;
}

TEST(PackageFileLoadFromAppDir, NameIsTheFirstLineByteForByte) {
  const TempDir emptyDir;
  const struct {
    std::string appDir;
    std::string name;
    bool nameLogged;
  } cases[] = {
      {fixture("first-line-only"), "com.example.demo", true},
      {fixture("no-final-newline"), "com.example.demo", true},
      {fixture("crlf"), "com.example.demo\r", true},
      {fixture("blanks"), "  my package\t ", true},
      {fixture("empty-first-line"), "", true},
      {fixture("empty"), "", false},
      {fixture("first-line-only") + "/", "com.example.demo", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.appDir);
    RecordingLogAppender log;
    const ScopedLogAppender installed(&log);
    EXPECT_EQ(c.name, PackageFile::loadFromAppDir(c.appDir).getPackageName());
    const std::string dir = c.appDir.back() == '/'
                                ? c.appDir.substr(0, c.appDir.size() - 1)
                                : c.appDir;
    std::vector<std::string> expected = {"Read \"" + dir +
                                         "/.package\" package file"};
    if (c.nameLogged) {
      expected.push_back("Package name is [" + c.name + "]");
    }
    EXPECT_EQ(expected, messagesOf(log));
  }

  // No file: no name, and nothing is logged.
  RecordingLogAppender log;
  const ScopedLogAppender installed(&log);
  EXPECT_EQ("", PackageFile::loadFromAppDir(emptyDir.path()).getPackageName());
  EXPECT_TRUE(log.events.empty());
}

// A first line cut short by a failed read names no package; a failure
// after the line ends does not matter.
TEST(PackageFileFirstLine, OnlyALineReadWholeCounts) {
  const struct {
    std::string bytes;  // the read fails after these
    std::optional<std::string> line;
  } rows[] = {
      {"com.exa", std::nullopt},
      {"com.example\nrest", "com.example"},
      {"\n", ""},
      {"", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bytes);
    bool failed = false;
    FileReader file([&](char* buffer, size_t, uint64_t) -> std::ptrdiff_t {
      if (failed) {
        errno = EIO;
        return -1;
      }
      failed = true;
      return static_cast<std::ptrdiff_t>(row.bytes.copy(buffer, 100));
    });
    EXPECT_EQ(row.line, PackageFile::firstLine(file));
  }
}

TEST(PackageFileLoadFromAppDir, FileThatCannotBeOpenedFails) {
  const TempDir dir;
  const std::string path = dir / ".package";
  testsupport::writeFile(path, "com.example.demo\n");
  ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
  ASSERT_EQ(0, chmod(path.c_str(), 0));

  // In a child process that runs as an ordinary user when this one runs as
  // the superuser, who could read any file: the failure message, then the
  // log lines.
  const testsupport::ChildResult child = testsupport::runInChild([&dir]() {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 ||
                           setuid(65534) != 0)) {
      std::cout << "(cannot drop privileges)";
      return 1;
    }
    RecordingLogAppender log;
    const ScopedLogAppender installed(&log);
    try {
      PackageFile::loadFromAppDir(dir.path());
      std::cout << "(no error)";
    } catch (const QuernErrorBase& e) {
      std::cout << e.rawMessage();
    }
    for (const std::string& message : messagesOf(log)) {
      std::cout << "\n" << message;
    }
    return 0;
  });
  EXPECT_EQ(0, child.exitCode) << child;
  EXPECT_EQ("Error opening \"" + path + "\" file: " + std::strerror(EACCES) +
                "\nRead \"" + path + "\" package file",
            child.out);
}

}  // namespace
