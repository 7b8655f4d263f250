// A small harness for end-to-end tests of the launcher: it makes real
// bundles in fresh temporary directories (with tools/make-bundle), starts the
// launcher in them with a chosen argument vector and a chosen, complete
// environment, and reads back what the stand-in runtime recorded.
//
// A typical case:
//
//   e2e::Bundle bundle("App", "[Application]\napp.mainclass=a.Main\n");
//   const e2e::RunResult r = bundle.launch({"one"}, {"HOME=/nowhere"});
//   EXPECT_EQ(0, r.exitCode) << r;
//   ASSERT_EQ(1u, r.record.calls.size()) << r;
//   EXPECT_EQ("one", r.record.calls[0].argv.back());
//
// Nothing here is thread-safe; use it from the test's own thread.

#ifndef BUNDLE_HARNESS_H
#define BUNDLE_HARNESS_H

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace e2e {

// The paths the build passes in: the launcher and stand-in runtime under
// test, the source tree (for tools/make-bundle) and tests/fixtures.
std::string launcherUnderTest();
std::string standInRuntimeLib();
std::string sourceDir();
std::string fixturePath(const std::string& relativePath);

// A directory made fresh under $TMPDIR (or /tmp) and removed, with all it
// holds, when the object goes. Set QUERN_E2E_KEEP=1 to keep it for a look.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Absolute, without symbolic links.
  const std::string& path() const { return dirPath; }
  // path() + "/" + relativePath.
  std::string operator/(const std::string& relativePath) const;

 private:
  std::string dirPath;
};

// Writes `content` to `path` exactly (no newline added), creating missing
// parent directories. Throws std::runtime_error on failure.
void writeFile(const std::string& path, const std::string& content);
// The whole content of `path`; throws std::runtime_error if it is unreadable.
std::string readFile(const std::string& path);
// Copies a file, creating missing parent directories of `to` and replacing
// an existing `to`. Throws std::filesystem::filesystem_error on failure.
void copyFile(const std::string& from, const std::string& to);
// Removes a file, a symbolic link or a whole directory tree; a missing path
// is no error.
void removePath(const std::string& path);

// One call of the stand-in's ZLI_Launch, as it reported it.
struct LaunchCall {
  int call = 0;                   // 1 for the first call, 2 for the re-entry
  int argc = -1;                  // as reported
  std::vector<std::string> argv;  // unescaped: the exact bytes received
  std::string extra;              // arguments 3 to 14, as reported
  // Reported environment: name -> value, or no value when it was unset.
  std::map<std::string, std::optional<std::string>> env;
};

// Everything in one record file, in order.
struct LaunchRecord {
  std::vector<LaunchCall> calls;
  std::vector<int> reentryStatuses;  // one per "reentry status" line
  // Lines that are no part of the report format; a correct record has none.
  std::vector<std::string> unknownLines;
  std::string raw;  // the file as written
};

// Parses the stand-in's report format (see standin-runtime/ZliStandIn.c).
LaunchRecord parseRecord(const std::string& text);
// Undoes the stand-in's escapes: "\\\\", "\\n", "\\t", "\\r", "\\xHH".
std::string unescapeReport(const std::string& text);

// The environment of a run: "NAME=value" entries, and nothing else. The
// harness adds ZLI_STANDIN_RECORD (its own temporary record file) and passes
// on the sanitizer option variables (ASAN_OPTIONS, UBSAN_OPTIONS,
// LSAN_OPTIONS, TSAN_OPTIONS) of the test process; every other variable,
// HOME and PATH included, is present only if listed here.
using Environment = std::vector<std::string>;

struct RunOptions {
  std::vector<std::string> args;  // after argv[0]
  std::string argv0;              // empty: the executable's path
  Environment env;
  std::string cwd;  // empty: the test process's current directory
  int timeoutSeconds = 20;
};

struct RunResult {
  int exitCode = -1;      // the exit status, or -1 if the process did not exit
  int termSignal = 0;     // the signal that ended it, or 0
  bool timedOut = false;  // killed by the harness after the time-out
  std::string out;        // standard output
  std::string err;        // standard error
  LaunchRecord record;    // what the stand-in runtime recorded (maybe empty)

  // Standard error split into lines (without their line feeds).
  std::vector<std::string> errLines() const;
};

// Prints exit status, streams and record, for failure messages.
std::ostream& operator<<(std::ostream& os, const RunResult& r);

// Starts `executable` with standard input from /dev/null and waits for it;
// after options.timeoutSeconds it kills the child, sets timedOut and adds a
// test failure. Throws std::runtime_error if the process cannot be started.
RunResult run(const std::string& executable, const RunOptions& options);

// A bundle <temp>/<name>.app made by tools/make-bundle from the launcher and
// stand-in runtime under test, with `cfgText` as its configuration. Every
// accessor returns an absolute path. The temporary directory that holds the
// bundle (temp()) is the test's to use for other files too: a home
// directory, another runtime, symbolic links.
class Bundle {
 public:
  explicit Bundle(const std::string& name = "App",
                  const std::string& cfgText = std::string());
  // The same, placed in temp()/subdir instead of temp() itself (an empty
  // subdir means temp()). The subdir is created if missing.
  Bundle(const std::string& name, const std::string& cfgText,
         const std::string& subdir);

  const std::string& name() const { return appName; }
  const TempDir& temp() const { return tempDir; }
  const std::string& root() const { return rootPath; }  // .../<name>.app
  std::string binDir() const;                           // root/Contents/MacOS
  std::string launcher() const;                         // binDir/<name>
  std::string appDir() const;                           // root/Contents/app
  std::string cfgPath() const;                          // appDir/<name>.cfg
  std::string runtimeDir() const;                       // root/Contents/runtime
  std::string runtimeLib() const;  // runtimeDir/Contents/Home/lib/libzli.dylib
  std::string path(const std::string& relativeToRoot) const;

  void writeCfg(const std::string& text) const;
  void writePackage(const std::string& content) const;  // written as is
  void write(const std::string& relativeToRoot,
             const std::string& content) const;
  void remove(const std::string& relativeToRoot) const;

  // Runs this bundle's launcher with these arguments and this environment.
  RunResult launch(const std::vector<std::string>& args = {},
                   const Environment& env = {}) const;

 private:
  void make(const std::string& cfgText, const std::string& outDir);

  TempDir tempDir;
  std::string appName;
  std::string rootPath;
};

}  // namespace e2e

#endif  // BUNDLE_HARNESS_H
