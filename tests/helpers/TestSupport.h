// What the unit and end-to-end tests share: temporary directories and files,
// process state put back at the end of a scope (environment entries, the
// current directory, standard error), and child processes.
//
// Nothing here is thread-safe; use it from the test's own thread. Failures
// to set up (a directory that cannot be made, a fork that fails) throw
// std::runtime_error, which GoogleTest reports as the test's failure.

#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

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

// A directory made fresh under $TMPDIR (/tmp when that is unset or empty),
// named by its canonical path, so that it compares equal to what getcwd
// reports inside it. It is removed with all it holds when the object goes,
// unless QUERN_TEST_KEEP=1, which keeps it and prints its path.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return dirPath; }
  // path() + "/" + relativePath.
  std::string operator/(const std::string& relativePath) const;

 private:
  std::string dirPath;
};

// tests/fixtures/<relativePath>.
std::string fixturePath(const std::string& relativePath);
// The stand-in runtime library under test.
std::string standInRuntimeLib();

// Writes `content` to `path` exactly, creating missing parent directories.
void writeFile(const std::string& path, const std::string& content);
// The whole content of `path`; throws if it cannot be opened.
std::string readFile(const std::string& path);
// Copies a file, creating missing parent directories of `to` and replacing
// an existing `to`.
void copyFile(const std::string& from, const std::string& to);
// Removes a file, a symbolic link or a whole tree; a missing path is no
// error.
void removePath(const std::string& path);
// `text` split at line feeds, without them.
std::vector<std::string> splitLines(const std::string& text);
bool startsWith(const std::string& text, const std::string& prefix);
bool endsWith(const std::string& text, const std::string& suffix);

// Sets (or, with no value, unsets) an environment variable and puts the
// previous state back when destroyed.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name;
  std::optional<std::string> previous;
};

// Makes `dir` the current directory and puts the previous one back when
// destroyed.
class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::string& dir);
  ~ScopedCurrentDir();
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  std::string saved;
};

// Sends file descriptor 2 to a temporary file until text() is called.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Stops capturing and returns everything written meanwhile.
  std::string text();

 private:
  void restore();

  int fd;
  int saved;
};

struct ChildResult {
  int exitCode = -1;      // the exit status, or -1 if the child did not exit
  int termSignal = 0;     // the signal that ended it, or 0
  bool timedOut = false;  // killed after the time-out
  std::string out;        // standard output
  std::string err;        // standard error
};

// Exit status, signal and both streams, for failure messages.
std::ostream& operator<<(std::ostream& os, const ChildResult& r);

// Runs `body` in a forked child with standard input from /dev/null and
// standard output and error captured, and waits for it. The body's return
// value is the exit status (98 when it throws). After `timeoutSeconds` the
// child and its process group are killed, timedOut is set and a test
// failure is added.
ChildResult runInChild(const std::function<int()>& body,
                       int timeoutSeconds = 20);

struct ProgramOptions {
  std::vector<std::string> args;  // after argv[0]
  std::string argv0;              // empty: the executable's path
  // The whole environment, "NAME=value" entries. The sanitizer option
  // variables of the test process (ASAN_OPTIONS and the like) are added.
  std::vector<std::string> env;
  std::string cwd;  // empty: the test process's current directory
  int timeoutSeconds = 20;
};

// Starts `executable` as runInChild does; a relative path is taken from
// options.cwd, and PATH is not searched.
ChildResult runProgram(const std::string& executable,
                       const ProgramOptions& options);

// For a case that needs a process nothing else has run in, such as one that
// limits its own address space: starts this test binary again, with only
// the current test selected and this process's environment, and returns
// what that process did. There, the test runs as here up to this call,
// which calls `body(argument)` instead and exits with its return value,
// without destructors: the body reports on standard output or standard
// error, and TMPDIR names a directory removed once the process has ended.
ChildResult runInFreshProcess(
    const std::string& argument,
    const std::function<int(const std::string&)>& body);

// Limits this process's address space to what it uses now plus `extra`
// bytes, so that a larger allocation fails. Meant for a child process
// only. Returns false when the current size cannot be read.
bool limitAddressSpace(unsigned long long extra);

}  // namespace testsupport

#endif  // TESTSUPPORT_H
