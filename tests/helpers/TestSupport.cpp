#include "helpers/TestSupport.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// What tells a test binary started by runInFreshProcess which test it runs
// for, and what to hand to the body.
const char kFreshTest[] = "QUERN_TEST_FRESH_PROCESS";
const char kFreshArgument[] = "QUERN_TEST_FRESH_ARGUMENT";

std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + strerror(errno));
}

void makeParentDirectories(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  if (!parent.empty()) {
    fs::create_directories(parent);
  }
}

void closeFd(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

// A pipe whose ends are closed on exec.
struct Pipe {
  Pipe() {
    int fds[2];
    if (pipe(fds) != 0) {
      throw systemError("pipe");
    }
    readEnd = fds[0];
    writeEnd = fds[1];
    fcntl(readEnd, F_SETFD, FD_CLOEXEC);
    fcntl(writeEnd, F_SETFD, FD_CLOEXEC);
  }
  ~Pipe() {
    closeFd(readEnd);
    closeFd(writeEnd);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int readEnd;
  int writeEnd;
};

std::vector<char*> cStrings(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) {
    result.push_back(&s[0]);
  }
  result.push_back(nullptr);
  return result;
}

// In the forked child: standard input from /dev/null, output and error into
// the pipes, a process group of its own (so that a time-out kills what the
// child started too). Only async-signal-safe calls, for the sake of exec.
void redirectChild(const Pipe& out, const Pipe& err) {
  setpgid(0, 0);
  const int devNull = open("/dev/null", O_RDONLY);
  if (devNull >= 0) {
    dup2(devNull, 0);
    close(devNull);
  }
  dup2(out.writeEnd, 1);
  dup2(err.writeEnd, 2);
}

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

void killGroup(pid_t pid, ChildResult& result) {
  if (!result.timedOut) {
    result.timedOut = true;
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
  }
}

// Reads both pipes until the child has closed them; kills it when the
// deadline passes first.
void collectOutput(pid_t pid, Pipe& out, Pipe& err, Clock::time_point deadline,
                   ChildResult& result) {
  int* fds[2] = {&out.readEnd, &err.readEnd};
  std::string* sinks[2] = {&result.out, &result.err};
  while (*fds[0] >= 0 || *fds[1] >= 0) {
    pollfd polls[2];
    int which[2];
    nfds_t count = 0;
    for (int i = 0; i < 2; ++i) {
      if (*fds[i] >= 0) {
        polls[count] = {*fds[i], POLLIN, 0};
        which[count++] = i;
      }
    }
    const int ready = poll(polls, count, remainingMs(deadline));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      // Time is up (or poll failed): stop the child; its pipes then close.
      killGroup(pid, result);
      if (ready < 0) {
        return;
      }
      continue;
    }
    for (nfds_t p = 0; p < count; ++p) {
      if (polls[p].revents) {
        char buffer[4096];
        const ssize_t n = read(polls[p].fd, buffer, sizeof buffer);
        if (n > 0) {
          sinks[which[p]]->append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          closeFd(*fds[which[p]]);
        }
      }
    }
  }
}

void waitForExit(pid_t pid, Clock::time_point deadline, ChildResult& result) {
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      break;
    }
    if (done < 0 && errno != EINTR) {
      throw systemError("waitpid");
    }
    if (remainingMs(deadline) == 0) {
      killGroup(pid, result);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.termSignal = WTERMSIG(status);
  }
}

// Whatever is buffered now would otherwise be written by both processes.
void flushStreams() {
  std::cout.flush();
  std::cerr.flush();
  fflush(nullptr);
}

}  // namespace

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base && *base ? base : "/tmp") + "/quern-test-XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    throw systemError("mkdtemp(" + pattern + ")");
  }
  char resolved[PATH_MAX];
  if (!realpath(pattern.c_str(), resolved)) {
    throw systemError("realpath(" + pattern + ")");
  }
  dirPath = resolved;
}

TempDir::~TempDir() {
  const char* keep = getenv("QUERN_TEST_KEEP");
  if (keep && std::string(keep) == "1") {
    std::fprintf(stderr, "kept %s\n", dirPath.c_str());
    return;
  }
  removePath(dirPath);
}

std::string TempDir::operator/(const std::string& relativePath) const {
  return dirPath + "/" + relativePath;
}

std::string fixturePath(const std::string& relativePath) {
  return std::string(QUERN_TEST_FIXTURES) + "/" + relativePath;
}

std::string standInRuntimeLib() { return QUERN_STANDIN_LIB; }

void writeFile(const std::string& path, const std::string& content) {
  makeParentDirectories(path);
  std::ofstream output(path, std::ios::binary | std::ios::trunc);
  output << content;
  output.close();
  if (!output) {
    throw std::runtime_error("cannot write " + path);
  }
}

std::string readFile(const std::string& path) {
  std::ifstream input(path, std::ios::binary);
  if (!input) {
    throw std::runtime_error("cannot read " + path);
  }
  std::ostringstream content;
  content << input.rdbuf();
  return content.str();
}

void copyFile(const std::string& from, const std::string& to) {
  makeParentDirectories(to);
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void removePath(const std::string& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream input(text);
  std::string line;
  while (std::getline(input, line)) {
    lines.push_back(line);
  }
  return lines;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

ScopedEnv::ScopedEnv(const std::string& name,
                     const std::optional<std::string>& value)
    : name(name) {
  if (const char* old = getenv(name.c_str())) {
    previous = old;
  }
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (previous) {
    setenv(name.c_str(), previous->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

ScopedCurrentDir::ScopedCurrentDir(const std::string& dir)
    : saved(fs::current_path().string()) {
  fs::current_path(dir);
}

ScopedCurrentDir::~ScopedCurrentDir() {
  std::error_code ignored;
  fs::current_path(saved, ignored);
}

StderrCapture::StderrCapture() {
  const TempDir dir;
  const std::string name = dir / "stderr";
  fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd < 0) {
    throw systemError("open(" + name + ")");
  }
  fflush(stderr);
  saved = dup(2);
  dup2(fd, 2);
}

StderrCapture::~StderrCapture() {
  restore();
  close(fd);
}

std::string StderrCapture::text() {
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

void StderrCapture::restore() {
  if (saved >= 0) {
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    saved = -1;
  }
}

std::ostream& operator<<(std::ostream& os, const ChildResult& r) {
  os << "\n--- exit code " << r.exitCode;
  if (r.termSignal) {
    os << ", signal " << r.termSignal;
  }
  if (r.timedOut) {
    os << ", timed out";
  }
  return os << "\n--- stderr:\n" << r.err << "--- stdout:\n" << r.out;
}

ChildResult runInChild(const std::function<int()>& body, int timeoutSeconds) {
  Pipe out;
  Pipe err;
  flushStreams();
  const pid_t pid = fork();
  if (pid < 0) {
    throw systemError("fork");
  }
  if (pid == 0) {
    redirectChild(out, err);
    int status = 98;
    try {
      status = body();
    } catch (...) {
    }
    flushStreams();
    _exit(status);
  }
  closeFd(out.writeEnd);
  closeFd(err.writeEnd);

  ChildResult result;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::seconds(timeoutSeconds);
  collectOutput(pid, out, err, deadline, result);
  waitForExit(pid, deadline, result);
  if (result.timedOut) {
    ADD_FAILURE() << "the child did not end within " << timeoutSeconds
                  << " s and was killed" << result;
  }
  return result;
}

ChildResult runProgram(const std::string& executable,
                       const ProgramOptions& options) {
  std::vector<std::string> argv = {options.argv0.empty() ? executable
                                                         : options.argv0};
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  std::vector<std::string> envp = options.env;
  for (const char* name :
       {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
    const char* value = getenv(name);
    const std::string prefix = std::string(name) + "=";
    const auto given = [&prefix](const std::string& entry) {
      return startsWith(entry, prefix);
    };
    if (value && std::none_of(envp.begin(), envp.end(), given)) {
      envp.push_back(prefix + value);
    }
  }
  // Everything the child touches is made before the fork.
  const std::vector<char*> argvPointers = cStrings(argv);
  const std::vector<char*> envpPointers = cStrings(envp);
  const char* const cwd = options.cwd.empty() ? nullptr : options.cwd.c_str();

  return runInChild(
      [&]() {
        if (!cwd || chdir(cwd) == 0) {
          execve(executable.c_str(), argvPointers.data(), envpPointers.data());
        }
        static const char message[] = "runProgram: chdir or execve failed\n";
        const ssize_t ignored = write(2, message, sizeof message - 1);
        (void)ignored;
        return 127;
      },
      options.timeoutSeconds);
}

ChildResult runInFreshProcess(
    const std::string& argument,
    const std::function<int(const std::string&)>& body) {
  const ::testing::TestInfo* test =
      ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name =
      std::string(test->test_suite_name()) + "." + test->name();
  const char* runningFor = getenv(kFreshTest);
  if (runningFor && name == runningFor) {
    const char* given = getenv(kFreshArgument);
    int status = 98;
    try {
      status = body(given ? given : "");
    } catch (...) {
    }
    flushStreams();
    _exit(status);
  }

  // The child ends without destructors, so what its test makes in the
  // temporary directory goes with this one.
  const TempDir childTemp;
  ProgramOptions options;
  options.args = {"--gtest_filter=" + name};
  options.env = {kFreshTest + ("=" + name), kFreshArgument + ("=" + argument),
                 "TMPDIR=" + childTemp.path()};
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::string variable = text.substr(0, text.find('='));
    if (variable != kFreshTest && variable != kFreshArgument &&
        variable != "TMPDIR") {
      options.env.push_back(text);
    }
  }
  return runProgram("/proc/self/exe", options);
}

bool limitAddressSpace(unsigned long long extra) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (startsWith(line, "VmSize:")) {
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
