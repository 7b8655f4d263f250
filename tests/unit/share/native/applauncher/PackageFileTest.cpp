#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "Log.h"
#include "PackageFile.h"

namespace {

std::string fixture(const std::string& name) {
  return std::string(QUERN_TEST_FIXTURES) + "/package/" + name;
}

// Keeps the text of every event while installed on the default logger, and
// checks that each comes from the package file reader.
class PackageLog : public LogAppender {
 public:
  PackageLog() : saved(Logger::defaultLogger().getAppender()) {
    Logger::defaultLogger().setAppender(this);
  }
  ~PackageLog() override { Logger::defaultLogger().setAppender(saved); }
  PackageLog(const PackageLog&) = delete;
  PackageLog& operator=(const PackageLog&) = delete;

  void append(const LogEvent& v) override {
    EXPECT_EQ("TRACE", v.logLevel) << v.message;
    EXPECT_EQ("PackageFile.cpp", v.fileName) << v.message;
    EXPECT_EQ("loadFromAppDir", v.funcName) << v.message;
    messages.push_back(v.message);
  }

  std::vector<std::string> messages;

 private:
  LogAppender* saved;
};

TEST(PackageFileLoadFromAppDir, NameIsTheFirstLineByteForByte) {
  char emptyDir[] = "/tmp/quern-package-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(emptyDir));

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
    PackageLog log;
    EXPECT_EQ(c.name, PackageFile::loadFromAppDir(c.appDir).getPackageName());
    const std::string dir = c.appDir.back() == '/'
                                ? c.appDir.substr(0, c.appDir.size() - 1)
                                : c.appDir;
    std::vector<std::string> expected = {"Read \"" + dir +
                                         "/.package\" package file"};
    if (c.nameLogged) {
      expected.push_back("Package name is [" + c.name + "]");
    }
    EXPECT_EQ(expected, log.messages);
  }

  // No file: no name, and nothing is logged.
  {
    PackageLog log;
    EXPECT_EQ("", PackageFile::loadFromAppDir(emptyDir).getPackageName());
    EXPECT_TRUE(log.messages.empty());
  }
  rmdir(emptyDir);
}

// Makes every further open() fail with "too many open files" while it
// lives, by lowering the limit to the lowest descriptor that is free.
class NoFreeDescriptor {
 public:
  NoFreeDescriptor() {
    getrlimit(RLIMIT_NOFILE, &saved);
    const int lowest = open("/dev/null", O_RDONLY);
    close(lowest);
    struct rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(lowest);
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~NoFreeDescriptor() { setrlimit(RLIMIT_NOFILE, &saved); }
  NoFreeDescriptor(const NoFreeDescriptor&) = delete;
  NoFreeDescriptor& operator=(const NoFreeDescriptor&) = delete;

 private:
  struct rlimit saved;
};

TEST(PackageFileLoadFromAppDir, FileThatCannotBeOpenedFails) {
  const std::string path = fixture("first-line-only") + "/.package";
  PackageLog log;
  std::string message = "(no error)";
  {
    NoFreeDescriptor noFd;
    try {
      PackageFile::loadFromAppDir(fixture("first-line-only"));
    } catch (const QuernErrorBase& e) {
      message = e.rawMessage();
    }
  }
  EXPECT_EQ("Error opening \"" + path + "\" file: " + std::strerror(EMFILE),
            message);
  EXPECT_EQ(std::vector<std::string>{"Read \"" + path + "\" package file"},
            log.messages);
}

}  // namespace
