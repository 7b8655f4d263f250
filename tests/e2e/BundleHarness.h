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

#include "helpers/TestSupport.h"

namespace e2e {

using testsupport::copyFile;
using testsupport::fixturePath;
using testsupport::readFile;
using testsupport::removePath;
using testsupport::standInRuntimeLib;
using testsupport::TempDir;
using testsupport::writeFile;

// The paths the build passes in: the launcher under test, and the source
// tree (for tools/make-bundle).
std::string launcherUnderTest();
std::string sourceDir();

// The LD_PRELOAD value that puts the recorder of openlog and syslog
// (tests/helpers) into the launcher, which then writes to the file named by
// QUERN_SYSLOG_RECORD. A launcher built with AddressSanitizer wants the
// sanitizer's runtime first among its libraries: when the tests loaded it as
// a library of its own, it comes first.
std::string syslogRecorderPreload();

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
// harness adds ZLI_STANDIN_RECORD (its own temporary record file), and the
// sanitizer option variables of the test process are passed on; every other
// variable, HOME and PATH included, is present only if listed here.
using Environment = std::vector<std::string>;
using RunOptions = testsupport::ProgramOptions;

struct RunResult : testsupport::ChildResult {
  LaunchRecord record;  // what the stand-in runtime recorded (maybe empty)

  // Standard error split into lines (without their line feeds).
  std::vector<std::string> errLines() const;
  // How many lines of standard error hold `text`.
  size_t countErrLines(const std::string& text) const;
};

// Prints exit status, streams and record, for failure messages.
std::ostream& operator<<(std::ostream& os, const RunResult& r);

// Starts `executable` as testsupport::runProgram does, and reads back what
// the stand-in runtime recorded.
RunResult run(const std::string& executable, const RunOptions& options);

// Makes a run of `executable` with `options` one as the unprivileged user
// nobody when the tests run as root, who reads every file: setpriv starts
// it. Returns false, changing nothing, when that needs setpriv and it is not
// installed.
bool runAsNobody(std::string& executable, RunOptions& options);

// Runs tools/make-bundle with these arguments and PATH=/usr/bin:/bin.
RunResult makeBundle(const std::vector<std::string>& args);

// The number of arguments and bytes of `argv`, and the arguments themselves
// when they are short enough to print.
std::string describe(const std::vector<std::string>& argv);

// Expects one launch, with exit status 0, nothing on standard error and
// exactly `argv`; and, when `dyld` is not empty, that DYLD_LIBRARY_PATH. A
// large vector is compared without printing it whole.
void expectLaunched(const RunResult& r, const std::vector<std::string>& argv,
                    const std::string& dyld = std::string());
// Expects exit status 1, exactly `line` on standard error, and the runtime
// not entered.
void expectFailed(const RunResult& r, const std::string& line);

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
