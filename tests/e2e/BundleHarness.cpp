#include "e2e/BundleHarness.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {

namespace {

std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + strerror(errno));
}

std::string tempBase() {
  const char* tmp = getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// Closes a descriptor once; -1 means closed.
void closeFd(int& fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

void makePipe(int fds[2]) {
  if (pipe(fds) != 0) {
    throw systemError("pipe");
  }
  for (int i = 0; i < 2; ++i) {
    fcntl(fds[i], F_SETFD, FD_CLOEXEC);
  }
}

std::vector<char*> cStrings(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) {
    result.push_back(&s[0]);
  }
  result.push_back(nullptr);
  return result;
}

bool parseInt(const std::string& text, int& value) {
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long n = strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != 0) {
    return false;
  }
  value = static_cast<int>(n);
  return true;
}

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string launcherUnderTest() { return QUERN_LAUNCHER; }
std::string standInRuntimeLib() { return QUERN_STANDIN_LIB; }
std::string sourceDir() { return QUERN_SOURCE_DIR; }
std::string fixturePath(const std::string& relativePath) {
  return std::string(QUERN_TEST_FIXTURES) + "/" + relativePath;
}

TempDir::TempDir() {
  std::string pattern = tempBase() + "/quern-e2e-XXXXXX";
  if (!mkdtemp(&pattern[0])) {
    throw systemError("mkdtemp(" + pattern + ")");
  }
  char* real = realpath(pattern.c_str(), nullptr);
  if (!real) {
    throw systemError("realpath(" + pattern + ")");
  }
  dirPath = real;
  free(real);
}

TempDir::~TempDir() {
  const char* keep = getenv("QUERN_E2E_KEEP");
  if (keep && std::string(keep) == "1") {
    std::fprintf(stderr, "kept %s\n", dirPath.c_str());
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(dirPath, ignored);
}

std::string TempDir::operator/(const std::string& relativePath) const {
  return dirPath + "/" + relativePath;
}

void writeFile(const std::string& path, const std::string& content) {
  const std::filesystem::path parent =
      std::filesystem::path(path).parent_path();
  if (!parent.empty()) {
    std::filesystem::create_directories(parent);
  }
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
  const std::filesystem::path parent = std::filesystem::path(to).parent_path();
  if (!parent.empty()) {
    std::filesystem::create_directories(parent);
  }
  std::filesystem::copy_file(from, to,
                             std::filesystem::copy_options::overwrite_existing);
}

void removePath(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string unescapeReport(const std::string& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      result += text[i];
      continue;
    }
    const char c = text[++i];
    switch (c) {
      case 'n':
        result += '\n';
        break;
      case 't':
        result += '\t';
        break;
      case 'r':
        result += '\r';
        break;
      case 'x':
        if (i + 2 < text.size() && isxdigit((unsigned char)text[i + 1]) &&
            isxdigit((unsigned char)text[i + 2])) {
          result +=
              static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else {
          result += "\\x";
        }
        break;
      default:
        result += c;
    }
  }
  return result;
}

LaunchRecord parseRecord(const std::string& text) {
  LaunchRecord record;
  record.raw = text;
  std::istringstream lines(text);
  std::string line;
  LaunchCall* current = nullptr;
  int value = 0;
  while (std::getline(lines, line)) {
    if (startsWith(line, "call ") && parseInt(line.substr(5), value)) {
      record.calls.emplace_back();
      current = &record.calls.back();
      current->call = value;
    } else if (startsWith(line, "reentry status ") &&
               parseInt(line.substr(15), value)) {
      record.reentryStatuses.push_back(value);
    } else if (current && line == "end") {
      current = nullptr;
    } else if (current && startsWith(line, "argc ") &&
               parseInt(line.substr(5), value)) {
      current->argc = value;
    } else if (current && startsWith(line, "argv[")) {
      const std::string::size_type close = line.find("] ");
      int index = -1;
      if (close == std::string::npos ||
          !parseInt(line.substr(5, close - 5), index) ||
          index != static_cast<int>(current->argv.size())) {
        record.unknownLines.push_back(line);
      } else {
        current->argv.push_back(unescapeReport(line.substr(close + 2)));
      }
    } else if (current && startsWith(line, "extra ")) {
      current->extra = line.substr(6);
    } else if (current && startsWith(line, "env ")) {
      const std::string entry = line.substr(4);
      const std::string::size_type eq = entry.find('=');
      if (eq != std::string::npos) {
        current->env[unescapeReport(entry.substr(0, eq))] =
            unescapeReport(entry.substr(eq + 1));
      } else if (entry.size() > 6 &&
                 entry.compare(entry.size() - 6, 6, " unset") == 0) {
        current->env[unescapeReport(entry.substr(0, entry.size() - 6))] =
            std::nullopt;
      } else {
        record.unknownLines.push_back(line);
      }
    } else {
      record.unknownLines.push_back(line);
    }
  }
  return record;
}

std::vector<std::string> RunResult::errLines() const {
  std::vector<std::string> lines;
  std::istringstream input(err);
  std::string line;
  while (std::getline(input, line)) {
    lines.push_back(line);
  }
  return lines;
}

std::ostream& operator<<(std::ostream& os, const RunResult& r) {
  os << "\n--- exit code " << r.exitCode;
  if (r.termSignal) {
    os << ", signal " << r.termSignal;
  }
  if (r.timedOut) {
    os << ", timed out";
  }
  os << "\n--- stderr:\n"
     << r.err << "--- stdout:\n"
     << r.out << "--- record:\n"
     << r.record.raw << "---\n";
  return os;
}

RunResult run(const std::string& executable, const RunOptions& options) {
  TempDir recordDir;
  const std::string recordPath = recordDir / "record";

  std::vector<std::string> argv;
  argv.push_back(options.argv0.empty() ? executable : options.argv0);
  argv.insert(argv.end(), options.args.begin(), options.args.end());

  std::vector<std::string> envp(options.env);
  for (const char* name :
       {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
    const char* value = getenv(name);
    if (value) {
      envp.push_back(std::string(name) + "=" + value);
    }
  }
  envp.push_back("ZLI_STANDIN_RECORD=" + recordPath);

  std::vector<char*> argvPtrs = cStrings(argv);
  std::vector<char*> envpPtrs = cStrings(envp);
  const std::string cwd = options.cwd;

  int outPipe[2];
  int errPipe[2];
  makePipe(outPipe);
  makePipe(errPipe);

  const pid_t pid = fork();
  if (pid < 0) {
    const std::runtime_error e = systemError("fork");
    closeFd(outPipe[0]);
    closeFd(outPipe[1]);
    closeFd(errPipe[0]);
    closeFd(errPipe[1]);
    throw e;
  }
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    setpgid(0, 0);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) {
      dup2(devNull, 0);
    }
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
      static const char msg[] = "harness: chdir failed\n";
      write(2, msg, sizeof msg - 1);
      _exit(127);
    }
    execve(executable.c_str(), argvPtrs.data(), envpPtrs.data());
    static const char msg[] = "harness: execve failed\n";
    write(2, msg, sizeof msg - 1);
    _exit(127);
  }
  closeFd(outPipe[1]);
  closeFd(errPipe[1]);

  RunResult result;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::seconds(options.timeoutSeconds);
  const auto remainingMs = [&deadline]() {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  };
  const auto killChild = [&]() {
    if (!result.timedOut) {
      result.timedOut = true;
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
    }
  };

  int fds[2] = {outPipe[0], errPipe[0]};
  std::string* sinks[2] = {&result.out, &result.err};
  while (fds[0] >= 0 || fds[1] >= 0) {
    pollfd polls[2];
    nfds_t count = 0;
    int which[2];
    for (int i = 0; i < 2; ++i) {
      if (fds[i] >= 0) {
        polls[count].fd = fds[i];
        polls[count].events = POLLIN;
        polls[count].revents = 0;
        which[count] = i;
        ++count;
      }
    }
    const int ready = poll(polls, count, remainingMs());
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0) {
      // Time is up (or poll failed): stop the child; its pipes then close.
      killChild();
      if (ready < 0) {
        break;
      }
      continue;
    }
    for (nfds_t p = 0; p < count; ++p) {
      if (!polls[p].revents) {
        continue;
      }
      char buffer[4096];
      const ssize_t n = read(polls[p].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[which[p]]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        closeFd(fds[which[p]]);
      }
    }
  }
  closeFd(fds[0]);
  closeFd(fds[1]);

  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      break;
    }
    if (done < 0 && errno != EINTR) {
      throw systemError("waitpid");
    }
    if (remainingMs() == 0) {
      killChild();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.termSignal = WTERMSIG(status);
  }
  if (result.timedOut) {
    ADD_FAILURE() << executable << " did not end within "
                  << options.timeoutSeconds << " s and was killed" << result;
  }

  struct stat st;
  if (stat(recordPath.c_str(), &st) == 0) {
    result.record = parseRecord(readFile(recordPath));
  }
  return result;
}

Bundle::Bundle(const std::string& name, const std::string& cfgText)
    : appName(name) {
  make(cfgText, tempDir.path());
}

Bundle::Bundle(const std::string& name, const std::string& cfgText,
               const std::string& subdir)
    : appName(name) {
  make(cfgText, subdir.empty() ? tempDir.path() : tempDir / subdir);
}

void Bundle::make(const std::string& cfgText, const std::string& outDir) {
  TempDir inputDir;
  const std::string cfgInput = inputDir / "input.cfg";
  writeFile(cfgInput, cfgText);

  RunOptions options;
  options.args = {sourceDir() + "/tools/make-bundle",
                  "--launcher",
                  launcherUnderTest(),
                  "--name",
                  appName,
                  "--cfg",
                  cfgInput,
                  "--runtime-lib",
                  standInRuntimeLib(),
                  "--out",
                  outDir};
  options.env = {"PATH=/usr/bin:/bin"};
  const RunResult made = run("/bin/bash", options);
  // The helper prints the bundle's path with the output directory resolved.
  const std::string suffix = "/" + appName + ".app\n";
  if (made.exitCode != 0 || made.out.size() <= suffix.size() ||
      made.out[0] != '/' ||
      made.out.compare(made.out.size() - suffix.size(), suffix.size(),
                       suffix) != 0) {
    std::ostringstream message;
    message << "tools/make-bundle failed for " << outDir << made;
    throw std::runtime_error(message.str());
  }
  rootPath = made.out.substr(0, made.out.size() - 1);
}

std::string Bundle::binDir() const { return rootPath + "/Contents/MacOS"; }
std::string Bundle::launcher() const { return binDir() + "/" + appName; }
std::string Bundle::appDir() const { return rootPath + "/Contents/app"; }
std::string Bundle::cfgPath() const {
  return appDir() + "/" + appName + ".cfg";
}
std::string Bundle::runtimeDir() const {
  return rootPath + "/Contents/runtime";
}
std::string Bundle::runtimeLib() const {
  return runtimeDir() + "/Contents/Home/lib/libzli.dylib";
}
std::string Bundle::path(const std::string& relativeToRoot) const {
  return rootPath + "/" + relativeToRoot;
}

void Bundle::writeCfg(const std::string& text) const {
  writeFile(cfgPath(), text);
}

void Bundle::writePackage(const std::string& content) const {
  writeFile(appDir() + "/.package", content);
}

void Bundle::write(const std::string& relativeToRoot,
                   const std::string& content) const {
  writeFile(path(relativeToRoot), content);
}

void Bundle::remove(const std::string& relativeToRoot) const {
  removePath(path(relativeToRoot));
}

RunResult Bundle::launch(const std::vector<std::string>& args,
                         const Environment& env) const {
  RunOptions options;
  options.args = args;
  options.env = env;
  return run(launcher(), options);
}

}  // namespace e2e
