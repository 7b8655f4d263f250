#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
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

// The failure message, then the log lines, of loading the package file of
// `appDir` in a child process that runs as an ordinary user when this one
// runs as the superuser, who could read any file.
std::string loadAsOrdinaryUser(const std::string& appDir) {
  int fds[2];
  if (pipe(fds) != 0) {
    return "(pipe failed)";
  }
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string report;
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 ||
                           setuid(65534) != 0)) {
      report = "(cannot drop privileges)";
    } else {
      PackageLog log;
      try {
        PackageFile::loadFromAppDir(appDir);
        report = "(no error)";
      } catch (const QuernErrorBase& e) {
        report = e.rawMessage();
      }
      for (const std::string& message : log.messages) {
        report += "\n" + message;
      }
    }
    const ssize_t written = write(fds[1], report.data(), report.size());
    _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string report;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
    report.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return report;
}

TEST(PackageFileLoadFromAppDir, FileThatCannotBeOpenedFails) {
  char dir[] = "/tmp/quern-package-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  const std::string path = std::string(dir) + "/.package";
  {
    std::ofstream out(path);
    out << "com.example.demo\n";
  }
  ASSERT_EQ(0, chmod(dir, 0755));
  ASSERT_EQ(0, chmod(path.c_str(), 0));

  EXPECT_EQ("Error opening \"" + path + "\" file: " + std::strerror(EACCES) +
                "\nRead \"" + path + "\" package file",
            loadAsOrdinaryUser(dir));

  unlink(path.c_str());
  rmdir(dir);
}

}  // namespace
