// Small pieces shared by the unit tests of the launch and system-information
// units: temporary directories, environment variables that are put back,
// a log appender that records events, standard-error capture and a way to
// run a piece of a test in a child process.

#ifndef LAUNCHERTESTSUPPORT_H
#define LAUNCHERTESTSUPPORT_H

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "Log.h"

// Sanitizers reserve most of the address space up front, so tests that
// limit it to provoke an allocation failure cannot run under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUERN_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUERN_TEST_SANITIZED 1
#endif
#endif
#ifndef QUERN_TEST_SANITIZED
#define QUERN_TEST_SANITIZED 0
#endif

namespace testsupport {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

inline StringList splitLines(const std::string& text) {
  StringList lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(line);
  }
  return lines;
}

// A fresh directory under the system's temporary directory, given by its
// canonical path (so that it compares equal to what getcwd reports inside
// it), removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern =
        std::string(base && *base ? base : "/tmp") + "/quern-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data())) {
      throw std::runtime_error("mkdtemp failed");
    }
    char resolved[PATH_MAX];
    if (!realpath(buffer.data(), resolved)) {
      throw std::runtime_error("realpath failed");
    }
    dir = resolved;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return dir; }
  std::string operator/(const std::string& name) const {
    return dir + "/" + name;
  }

 private:
  std::string dir;
};

// Sets (or, with no value, unsets) an environment variable and puts the
// previous state back when destroyed.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, std::optional<std::string> value)
      : name(name) {
    if (const char* old = getenv(name.c_str())) {
      previous = old;
    }
    apply(value);
  }
  ~ScopedEnv() { apply(previous); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void apply(const std::optional<std::string>& value) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }

  std::string name;
  std::optional<std::string> previous;
};

// Records every event; installed on the default logger for its lifetime, in
// place of the standard-output appender the logger starts with.
class RecordingLogAppender : public LogAppender {
 public:
  RecordingLogAppender() : saved(Logger::defaultLogger().getAppender()) {
    Logger::defaultLogger().setAppender(this);
  }
  ~RecordingLogAppender() override {
    Logger::defaultLogger().setAppender(saved);
  }
  RecordingLogAppender(const RecordingLogAppender&) = delete;
  RecordingLogAppender& operator=(const RecordingLogAppender&) = delete;

  void append(const LogEvent& v) override { events.push_back(v); }

  // Events of one level, in order.
  std::vector<LogEvent> at(const std::string& level) const {
    std::vector<LogEvent> result;
    for (const LogEvent& e : events) {
      if (e.logLevel == level) {
        result.push_back(e);
      }
    }
    return result;
  }

  std::vector<LogEvent> events;

 private:
  LogAppender* saved;
};

// Sends file descriptor 2 to a temporary file until text() is called.
class StderrCapture {
 public:
  StderrCapture() {
    char name[] = "/tmp/quern-stderr-XXXXXX";
    fd = mkstemp(name);
    if (fd < 0) {
      throw std::runtime_error("mkstemp failed");
    }
    unlink(name);
    fflush(stderr);
    saved = dup(2);
    dup2(fd, 2);
  }
  ~StderrCapture() {
    restore();
    close(fd);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Stops capturing and returns everything written meanwhile.
  std::string text() {
    restore();
    std::string result;
    char buffer[4096];
    ssize_t n;
    lseek(fd, 0, SEEK_SET);
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
      result.append(buffer, static_cast<size_t>(n));
    }
    return result;
  }

 private:
  void restore() {
    if (saved >= 0) {
      fflush(stderr);
      dup2(saved, 2);
      close(saved);
      saved = -1;
    }
  }

  int fd;
  int saved;
};

struct ChildResult {
  int exitStatus;   // the child's exit status, or -1 if it did not exit
  std::string out;  // what the child wrote to its pipe
};

// Runs `body` in a forked child. The body writes its findings to the file
// descriptor it is given; its return value becomes the exit status.
inline ChildResult runInChild(const std::function<int(int)>& body) {
  int fds[2];
  if (pipe(fds) != 0) {
    throw std::runtime_error("pipe failed");
  }
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    close(fds[0]);
    int status = 99;
    try {
      status = body(fds[1]);
    } catch (...) {
      status = 98;
    }
    close(fds[1]);
    _exit(status);
  }
  close(fds[1]);
  ChildResult result{-1, std::string()};
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
    result.out.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  }
  return result;
}

inline void writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) {
      return;
    }
    done += static_cast<size_t>(n);
  }
}

// Limits this process's address space to what it uses now plus `extra`
// bytes, so that a larger allocation fails. Meant for a forked child only.
// Returns false when the current size cannot be read.
inline bool limitAddressSpace(unsigned long long extra) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 7, "VmSize:") == 0) {
      const unsigned long long kib = std::stoull(line.substr(7));
      struct rlimit limit;
      limit.rlim_cur = kib * 1024 + extra;
      limit.rlim_max = limit.rlim_cur;
      return setrlimit(RLIMIT_AS, &limit) == 0;
    }
  }
  return false;
}

}  // namespace testsupport

#endif  // LAUNCHERTESTSUPPORT_H
