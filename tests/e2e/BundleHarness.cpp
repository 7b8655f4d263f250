#include "e2e/BundleHarness.h"

#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace e2e {

namespace {

using testsupport::startsWith;

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

}  // namespace

std::string launcherUnderTest() { return QUERN_LAUNCHER; }
std::string sourceDir() { return QUERN_SOURCE_DIR; }

std::string syslogRecorderPreload() {
  std::string list = QUERN_SYSLOG_RECORDER;
  void* const asanInit = dlsym(RTLD_DEFAULT, "__asan_init");
  Dl_info runtime;
  Dl_info self;
  if (asanInit && dladdr(asanInit, &runtime) && runtime.dli_fname &&
      dladdr(reinterpret_cast<void*>(&syslogRecorderPreload), &self) &&
      runtime.dli_fbase != self.dli_fbase) {
    list = std::string(runtime.dli_fname) + ":" + list;
  }
  return list;
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
  return testsupport::splitLines(err);
}

size_t RunResult::countErrLines(const std::string& text) const {
  size_t count = 0;
  for (const std::string& line : errLines()) {
    count += line.find(text) != std::string::npos ? 1 : 0;
  }
  return count;
}

std::ostream& operator<<(std::ostream& os, const RunResult& r) {
  return os << static_cast<const testsupport::ChildResult&>(r)
            << "--- record:\n"
            << r.record.raw << "---\n";
}

RunResult run(const std::string& executable, const RunOptions& options) {
  const TempDir recordDir;
  const std::string recordPath = recordDir / "record";
  RunOptions recorded = options;
  recorded.env.push_back("ZLI_STANDIN_RECORD=" + recordPath);

  RunResult result;
  static_cast<testsupport::ChildResult&>(result) =
      testsupport::runProgram(executable, recorded);
  if (std::filesystem::exists(recordPath)) {
    result.record = parseRecord(readFile(recordPath));
  }
  return result;
}

bool runAsNobody(std::string& executable, RunOptions& options) {
  if (geteuid() != 0) {
    return true;
  }
  for (const char* setpriv : {"/usr/bin/setpriv", "/bin/setpriv"}) {
    if (access(setpriv, X_OK) == 0) {
      options.args.insert(options.args.begin(),
                          {"--reuid=65534", "--regid=65534", "--clear-groups",
                           "--", executable});
      options.argv0 = setpriv;
      executable = setpriv;
      return true;
    }
  }
  return false;
}

RunResult makeBundle(const std::vector<std::string>& args) {
  RunOptions options;
  options.args = {sourceDir() + "/tools/make-bundle"};
  options.args.insert(options.args.end(), args.begin(), args.end());
  options.env = {"PATH=/usr/bin:/bin"};
  return run("/bin/bash", options);
}

std::string describe(const std::vector<std::string>& argv) {
  size_t total = 0;
  for (const std::string& arg : argv) {
    total += arg.size();
  }
  std::string text = std::to_string(argv.size()) + " arguments, " +
                     std::to_string(total) + " bytes";
  if (total < 4096) {
    text += ":";
    for (const std::string& arg : argv) {
      text += " [" + arg + "]";
    }
  }
  return text;
}

void expectLaunched(const RunResult& r, const std::vector<std::string>& argv,
                    const std::string& dyld) {
  EXPECT_EQ(0, r.termSignal) << r.err;
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ("", r.err.substr(0, 2000));
  ASSERT_EQ(1u, r.record.calls.size()) << r.err;
  const LaunchCall& call = r.record.calls[0];
  EXPECT_EQ(static_cast<int>(argv.size()), call.argc);
  EXPECT_TRUE(call.argv == argv)
      << "expected " << describe(argv) << "\nreceived " << describe(call.argv);
  if (!dyld.empty()) {
    const auto it = call.env.find("DYLD_LIBRARY_PATH");
    ASSERT_TRUE(it != call.env.end() && it->second.has_value());
    EXPECT_TRUE(*it->second == dyld)
        << "expected " << describe({dyld}) << "\nreceived "
        << describe({*it->second});
  }
}

void expectFailed(const RunResult& r, const std::string& line) {
  EXPECT_EQ(1, r.exitCode) << r;
  EXPECT_EQ(line + "\n", r.err) << r;
  EXPECT_TRUE(r.record.calls.empty()) << r;
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
  const TempDir inputDir;
  const std::string cfgInput = inputDir / "input.cfg";
  writeFile(cfgInput, cfgText);

  const RunResult made =
      makeBundle({"--launcher", launcherUnderTest(), "--name", appName, "--cfg",
                  cfgInput, "--runtime-lib", standInRuntimeLib(),
                  "--identifier", "com.example.app", "--out", outDir});
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
