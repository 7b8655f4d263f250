// applauncher-check on bundles made with tools/make-bundle. Each check runs
// twice, for the text and the JSON report, which must agree; what the check
// says the launcher would do or print is held against the launcher itself.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "e2e/BundleHarness.h"
#include "helpers/MachOFixture.h"

namespace {

using e2e::Bundle;
using e2e::RunResult;
using nlohmann::json;
namespace fs = std::filesystem;
const auto npos = std::string::npos;

const std::string mainClassCfg = "[Application]\napp.mainclass=demo.Main\n";
const std::string plist = "Contents/Info.plist";
const std::string cfg = "Contents/app/App.cfg";
const std::string lib = "Contents/runtime/Contents/Home/lib/libzli.dylib";

// Runs `exe`; with `nobody` as the user nobody when the tests run as root,
// who reads every file (nothing when setpriv is missing).
std::optional<RunResult> run(const std::string& exe,
                             const std::vector<std::string>& args,
                             const e2e::Environment& env = {},
                             bool nobody = false, const std::string& cwd = "") {
  std::string executable = exe;
  e2e::RunOptions options{args, "", env, cwd, 60};
  if (nobody && !e2e::runAsNobody(executable, options)) {
    return std::nullopt;
  }
  return e2e::run(executable, options);
}

// The text report shows control characters escaped: \r, \n, \t or \xNN.
std::string textOf(const std::string& raw) {
  std::string text;
  for (const unsigned char c : raw) {
    const char* named = c == '\r'   ? "\\r"
                        : c == '\n' ? "\\n"
                        : c == '\t' ? "\\t"
                                    : nullptr;
    if (named) {
      text += named;
    } else if (c < 0x20 || c == 0x7f) {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      text += hex;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}

// The check's JSON report (null when it cannot run), after holding its
// status, findings, error and vector against the text report.
json check(std::vector<std::string> args, const e2e::Environment& env = {},
           bool nobody = false, const std::string& cwd = "") {
  const std::optional<RunResult> text =
      run(QUERN_CHECK, args, env, nobody, cwd);
  args.insert(args.begin(), "--json");
  const std::optional<RunResult> j = run(QUERN_CHECK, args, env, nobody, cwd);
  if (!text || !j) {
    return json();
  }
  const json report = json::parse(j->out, nullptr, false);
  if (report.is_discarded()) {
    ADD_FAILURE() << "no JSON" << *j;
    return json();
  }
  EXPECT_EQ(text->exitCode, j->exitCode) << *text;
  EXPECT_EQ(j->exitCode, report["exitStatus"]);
  std::string findings =
      "\nFindings: " + std::to_string(report["findings"].size()) + "\n";
  for (const json& f : report["findings"]) {
    const std::string line = f["line"].is_null() ? "" : ":" + f["line"].dump();
    findings +=
        "  " + f["severity"].get<std::string>() + ": " +
        (f["file"].is_null() ? ""
                             : f["file"].get<std::string>() + line + ": ") +
        textOf(f["message"].get<std::string>()) + " [" +
        f["code"].get<std::string>() + "]\n";
  }
  std::string arguments = report["arguments"].empty() ? "" : "Arguments:\n";
  for (size_t i = 0; i < report["arguments"].size(); ++i) {
    arguments += "  [" + std::to_string(i) + "] " +
                 textOf(report["arguments"][i].get<std::string>()) + "\n";
  }
  const std::string error =
      report["error"].is_null() ? "\nResult: "
      : report["errorCause"].is_null()
          ? "\nError: " + report["error"].get<std::string>() + "\nResult: "
          : "\nError: " + report["error"].get<std::string>() +
                // The check's own line is whole; the loader's is cut.
                (report["error"].get<std::string>().rfind("No Mac", 0) == 0
                     ? "\n  (the cause: "
                     : "\n  (the loader's own message follows; the cause: ") +
                textOf(report["errorCause"]) + ")\nResult: ";
  for (const std::string& part : {findings, arguments, error}) {
    EXPECT_NE(npos, text->out.find(part)) << part << *text;
  }
  size_t lines = 0;
  for (const char* severity : {"error", "warning", "note"}) {
    const std::string start = "\n  " + std::string(severity) + ": ";
    for (size_t at = 0; (at = text->out.find(start, at)) != npos; ++at) {
      ++lines;
    }
  }
  EXPECT_EQ(report["findings"].size(), lines);
  EXPECT_EQ(report["arguments"].empty(), text->out.find("\n  [0] ") == npos);
  return report;
}

// Changes the bundle: "rm PATH", "fifo PATH", "ln PATH TARGET", "cp PATH
// FROM" (a file or a directory's contents; FROM under tests/fixtures unless
// absolute), "write PATH TEXT" and "chmod0 PATH". PATH is relative to the
// bundle; empty, it is the bundle. "with OPTION [VALUE]" adds an option of
// the check ('@' in VALUE is the bundle).
void change(const Bundle& b, const std::string& how,
            std::vector<std::string>& options) {
  if (how.rfind("with ", 0) == 0) {
    const size_t value = how.find(' ', 5);
    options.push_back(how.substr(5, value - 5));
    if (value != npos) {
      options.push_back(how.substr(value + 1));
      if (options.back() == "@") {
        options.back() = b.root();
      }
    }
    return;
  }
  const size_t end = how.find(' ', how.find(' ') + 1);
  const std::string verb = how.substr(0, how.find(' '));
  const std::string rel = how.substr(verb.size() + 1, end - verb.size() - 1);
  const std::string arg = end == npos ? "" : how.substr(end + 1);
  const std::string path = rel.empty() ? b.root() : b.path(rel);
  if (verb == "rm" || verb == "fifo" || verb == "ln" || verb == "write") {
    e2e::removePath(path);
  }
  if (verb == "fifo") {
    ASSERT_EQ(0, mkfifo(path.c_str(), 0644)) << path;
  } else if (verb == "ln") {
    fs::create_symlink(arg, path);
  } else if (verb == "cp") {
    fs::copy(
        arg[0] == '/' ? arg : e2e::fixturePath(arg), path,
        fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  } else if (verb == "write") {
    e2e::writeFile(path, arg);
  } else if (verb == "chmod0") {
    chmod(path.c_str(), 0);
  }
}

TEST(BundleCheck, FindingsAndFailuresOfBundles) {
  struct Row {
    std::string what, cfg;
    // Changes (above); "in DIR" makes the bundle in DIR; with a "chmod0",
    // the check and the launcher run as nobody.
    std::vector<std::string> changes;
    // Findings "code:line" or "code:line:words of its message"; or
    // "Error:" and the check's own line ('@' is the bundle), or nothing for
    // the launcher's line.
    std::vector<std::string> expected;
  };
  const auto row = [](std::string what, std::string cfg,
                      std::vector<std::string> changes,
                      std::vector<std::string> expected) {
    return Row{what, cfg, changes, expected};
  };
  const std::string everyCfgFinding =
      "app.early=1\n[Application]\napp.mainClass=demo.Main\n app.version=1\n"
      "app.classpath=$APPDIR/missing.zar\napp.splash=$APPDIR/a.png\n"
      "app.splash=$APPDIR/b.png\napp.version=1.0\r\napp.memory=1g \n\r\n"
      "[ZealOptions]\nzeal-options=-Dx=$APP_DIR\n[Aplication]\n"
      "[ Application ]\n[ZealOptions]\nzeal-options=-Dy=1\n";
  const std::string identity =
      "<key>CFBundleIdentifier</key><string>com.example.app</string>"
      "<key>LSMinimumSystemVersion</key><string>11.0</string>";
  const std::string otherApp =
      "<plist><dict><key>CFBundleExecutable</key><string>App</string>" +
      identity +
      "<key>CFBundlePackageType</key><string>FMWK</string></dict></plist>";
  const auto lsEnvironment = [&](const std::string& value) {
    return "<plist><dict><key>CFBundleExecutable</key><string>App</string>"
           "<key>CFBundlePackageType</key><string>APPL</string>" +
           identity + "<key>LSEnvironment</key>" + value + "</dict></plist>";
  };
  std::string otherMachine = e2e::readFile(e2e::standInRuntimeLib());
  otherMachine[18] = otherMachine[18] == 62 ? char(183) : char(62);
  const std::string big(100 << 20, 'x');
  std::string lines, words;
  for (int i = 0; i != 1 << 20; ++i) {
    lines += "x\n";
    words += "$x";
  }
  // A mistake made a million times: a hundred findings, and one that says
  // the rest are not listed.
  const auto flood = [](const std::string& code, int line, int step) {
    std::vector<std::string> found;
    for (int i = 0; i != 100; ++i) {
      found.push_back(code + ":" + std::to_string(line + i * step));
    }
    found.push_back("more-findings:" + std::to_string(line + 100 * step));
    return found;
  };
  const std::string m = mainClassCfg, load = "with --load-runtime";
  const std::vector<std::string> fails = {"Error:"};
  const Row rows[] = {
      row("every configuration finding, another app's Info.plist, no library",
          everyCfgFinding,
          {"write " + plist + " " + otherApp,
           "cp " + lib + " dll/not-a-library.dylib"},
          {"Error:", "before-section:1:app.early",
           "unknown-key:3:\"app.mainclass\"", "key-blanks:4",
           "path-missing:5:missing.zar", "key-repeated:7:lines 6, 7",
           "splash-missing:7:b.png", "cr-line-ends:8:lines 8, 10 end",
           "value-blank:9", "not-a-macro:12:\"$APPDIR\"",
           "unknown-section:13:\"Application\"", "header-blanks:14",
           "section-repeated:15:line 11", "section-replaced:15:line 12 ",
           "no-main:0", "plist-package-type:0:\"FMWK\"",
           "runtime-not-library:0"}),
      row("package name with a CR", m,
          {"write Contents/app/.package com.example.app\r\n"},
          {"package-cr:1:carriage return"}),
      row("package name with blanks", m,
          {"write Contents/app/.package  com.example.app \n"},
          {"package-blanks:1:\" com.example.app \""}),
      row("CR-LF configuration, one finding",
          "[Application]\r\napp.mainclass=demo.Main\r\n"
          "app.classpath=$APPDIR/x.zar\r\n\r\n",
          {},
          {"cr-line-ends:2:lines 2, 3, 4 end with a carriage return (CR-LF "
           "line ends?); it becomes part of the values of \"app.mainclass\" "
           "and \"app.classpath\""}),
      row("configuration named after another launcher", m,
          {"rm " + cfg, "write Contents/app/Draw.cfg " + m},
          {"Error:", "cfg-other-name:0:\"Draw.cfg\" is there"}),
      row("relative paths, from the Finder",
          m + "app.classpath=hello.zar:/\napp.modulepath=tmp\n"
              "app.splash=$APPDIR/../../a.png\napp.splash=a.png\n",
          {},
          {"path-relative:3:\"hello.zar\"", "path-missing:3", "key-repeated:6",
           "path-relative:4:\"tmp\"", "path-relative:6", "splash-missing:6"}),
      row("relative runtime, from the Finder",
          m + "app.runtime=Contents/runtime\n", {},
          {"Error:", "path-relative:3:working directory"}),
      row("relative runtime, from the bundle",
          m + "app.runtime=Contents/runtime\n", {"with --cwd @"},
          {"path-relative:3:checked from \"@\""}),
      row("no Info.plist, a library for another machine", m,
          {"rm " + plist, "write " + lib + " " + otherMachine},
          {"Error:", "plist-missing:0", "runtime-wrong-machine:0"}),
      row("error alert set to values that do not switch it on, or to a "
          "name one slip away",
          m,
          {"write " + plist + " " +
           lsEnvironment("<dict><key>QUERN_ERROR_ALERT</key><integer>1"
                         "</integer><key>QUERN_EROR_ALERT</key><string>true"
                         "</string><key>quern_error_alert</key><string>True"
                         "</string></dict>")},
          {"plist-error-alert:0:an integer, not a string",
           "plist-error-alert:0:\"QUERN_EROR_ALERT\", not QUERN_ERROR_ALERT",
           "plist-error-alert:0:\"quern_error_alert\""}),
      row("error alert: a repeated key counts with its last value", m,
          {"write " + plist + " " +
           lsEnvironment("<dict><key>QUERN_ERROR_ALERT</key><string>true"
                         "</string><key>QUERN_ERROR_ALERT</key><string>True"
                         "</string></dict>")},
          {"plist-error-alert:0:to \"True\""}),
      row("LSEnvironment no dictionary", m,
          {"write " + plist + " " + lsEnvironment("<array/>")},
          {"plist-environment:0:an array, not a dictionary"}),
      row("no identifier, an old minimum system", m,
          {"write " + plist +
           " <plist><dict><key>CFBundleExecutable</key><string>App</string>"
           "<key>CFBundlePackageType</key><string>APPL</string><key>"
           "LSMinimumSystemVersion</key><string>10.13</string></dict></plist>"},
          {"plist-identifier:0:CFBundleIdentifier is missing",
           "plist-minimum-system:0:\"10.13\", below 11.0"}),
      row("binary Info.plist with a wrong CFBundleExecutable", m,
          {"cp " + plist + " plist/wrong-executable.bplist"},
          {"Error:No executable launcher at \"@/Contents/MacOS/Other\"",
           "plist-executable:0:\"Other\""}),
      row("a comment between key and value, entities and CDATA", m,
          {"cp " + plist + " plist/comment-and-references.xml"}, {}),
      row("'&' in XML: no form reads it, the launcher found by the bundle's "
          "name",
          m, {"cp " + plist + " plist/ampersand.xml"},
          {"plist-unreadable:8:not read as XML: '&' that begins no entity"}),
      row("'&' in XML, and no launcher by the bundle's name", m,
          {"cp " + plist + " plist/ampersand.xml", "rm Contents/MacOS/App",
           "cp Contents/MacOS/Other " + e2e::launcherUnderTest(),
           "write Contents/MacOS/helper #!/bin/sh"},
          {"Error:No executable launcher at \"@/Contents/MacOS/App\"",
           "plist-unreadable:8"}),
      row("truncated binary Info.plist", m,
          {"cp " + plist + " plist/truncated.bplist"},
          {"plist-unreadable:0:not read as binary"}),
      row("text that is no property list", m, {"write " + plist + " #!"},
          {"plist-unreadable:0:not a property list"}),
      row("old-style text property list, read", m,
          {"write " + plist +
           " { CFBundleExecutable = Other; CFBundleIdentifier = a.b; "
           "CFBundlePackageType = APPL; LSMinimumSystemVersion = 11.0; }"},
          {"Error:No executable launcher at \"@/Contents/MacOS/Other\"",
           "plist-executable:0:\"Other\""}),
      row("old-style text the check cannot read", m,
          {"write " + plist + " { CFBundleExecutable = App }"},
          {"plist-not-checked:0:stops at line 1: a value without ';'"}),
      row("Info.plist a named pipe", m, {"fifo " + plist},
          {"plist-not-read:0:not a regular file"}),
      row("Info.plist linked to /dev/zero", m, {"ln " + plist + " /dev/zero"},
          {"plist-not-read:0:not a regular file"}),
      row("100 MB Info.plist", m, {"write " + plist + " <plist>" + big},
          {"plist-not-read:0"}),
      row("unreadable Info.plist", m, {"chmod0 " + plist},
          {"plist-not-read:0:unreadable"}),
      // Linux: a regular file whose first read fails (the reader's own
      // memory at address 0), which LLVM's libc++ would read as empty.
      row("Info.plist whose read fails", m, {"ln " + plist + " /proc/self/mem"},
          {"plist-not-read:0:unreadable"}),
      row("library whose read fails", m, {"ln " + lib + " /proc/self/mem"},
          {"Error:", "runtime-not-library:0:unreadable"}),
      row("library a named pipe", m, {"fifo " + lib},
          {"Error:", "runtime-not-library:0:not a regular file"}),
      row("unreadable library", m, {"chmod0 " + lib},
          {"Error:", "runtime-not-library:0:unreadable"}),
      row("NUL bytes in a key and section names",
          e2e::readFile(e2e::fixturePath("hostile/nul-outside-values.cfg")), {},
          {"unknown-section:2", "unknown-key:5:\"app.mainclass\"",
           "unknown-section:7:\"ArgOptions\""}),
      row("100 MB comment line",
          "[Application]\n;" + big + "\napp.mainclass=demo.Main\n", {}, {}),
      row("a million lines before any section", lines + m, {},
          flood("before-section", 1, 1)),
      row("a million words that are no macro",
          m + "[ArgOptions]\narguments=" + words, {},
          flood("not-a-macro", 4, 0)),
      row("no configuration", m, {"rm " + cfg}, fails),
      row("header without ']'", "[Application\n", {}, fails),
      row("no runtime", m, {"rm Contents/runtime"}, fails),
      row("library without ZLI_Launch", m,
          {"cp " + lib + " " + QUERN_DLL_PROBE, load}, fails),
      row("file that is no library", m,
          {"cp " + lib + " dll/not-a-library.dylib", load}, fails),
      row("library with a truncated header", m,
          {"cp " + lib + " dll/truncated-header.dylib", load}, fails),
      row("macro that does not settle",
          "[Application]\napp.classpath=$APPDIR\n", {"in $APPDIR"}, fails),
      row("configuration a named pipe", m, {"fifo " + cfg}, fails),
      row("configuration linked to /dev/zero", m, {"ln " + cfg + " /dev/zero"},
          fails),
      row(".package a named pipe", m, {"fifo Contents/app/.package"}, fails),
      row("library a named pipe, loaded", m, {"fifo " + lib, load}, fails),
      row("NUL byte in a value",
          e2e::readFile(e2e::fixturePath("hostile/nul-in-value.cfg")), {},
          fails),
      row("unreadable configuration", m, {"chmod0 " + cfg}, fails),
      row("unreadable library, loaded", m, {"chmod0 " + lib, load}, fails),
      row("launcher a loop of links", m,
          {"ln Contents/MacOS/App loop", "ln Contents/MacOS/loop App"},
          {"Error:No executable launcher at \"@/Contents/MacOS/App\""}),
      row("no bundle", m, {"rm "}, {"Error:No bundle directory at \"@\""}),
      row("bundle a file", m, {"write  x"},
          {"Error:No bundle directory at \"@\""}),
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const bool in = !row.changes.empty() && row.changes[0].rfind("in ", 0) == 0;
    const Bundle b("App", row.cfg, in ? row.changes[0].substr(3) : "");
    chmod(b.temp().path().c_str(), 0755);  // for nobody
    std::vector<std::string> args;
    bool nobody = false;
    for (size_t i = in ? 1 : 0; i < row.changes.size(); ++i) {
      change(b, row.changes[i], args);
      nobody = nobody || row.changes[i].rfind("chmod0", 0) == 0;
    }
    // The launcher runs where the check assumes it does.
    const auto cwdOption = std::find(args.begin(), args.end(), "--cwd");
    const std::string cwd = cwdOption == args.end() ? "/" : cwdOption[1];
    args.push_back(b.root());
    const json report = check(args, {}, nobody);
    if (report.is_null()) {
      continue;  // as root without setpriv
    }
    // Findings of a failing bundle are compared when the row lists them.
    const bool failing =
        !row.expected.empty() && row.expected[0].rfind("Error:", 0) == 0;
    if (!failing) {
      EXPECT_EQ(row.expected.empty() ? 0 : 2, report["exitStatus"]);
    } else {
      EXPECT_EQ(1, report["exitStatus"]);
      std::string line = row.expected[0].substr(6);
      if (line.empty()) {
        const RunResult r = *run(b.launcher(), {}, {}, nobody, cwd);
        EXPECT_EQ(1, r.exitCode) << r;
        EXPECT_EQ(1u, r.errLines().size()) << r;
        line = r.err.substr(0, r.err.find('\n'));
      } else if (line.find('@') != npos) {
        line.replace(line.find('@'), 1, b.root());
      }
      // Only the loader knows its own text: where the check cannot ask it,
      // its error ends where that text begins.
      if (report["errorCause"].is_null()) {
        EXPECT_EQ(line, report["error"]);
      } else {
        const std::string prefix = report["error"];
        EXPECT_EQ(prefix, line.substr(0, prefix.size()));
      }
      if (row.expected.size() == 1) {
        continue;
      }
    }
    ASSERT_LT(report["findings"].size(), 200u);
    std::vector<std::string> got, expected;
    std::map<std::string, std::string> messages;  // by "code:line"
    bool runtimeFinding = false;
    for (const json& f : report["findings"]) {
      const std::string code = f["code"];
      got.push_back(code + ":" +
                    (f["line"].is_null() ? "0" : f["line"].dump()));
      messages[got.back()] += f["message"].get<std::string>();
      runtimeFinding = runtimeFinding || code.rfind("runtime-", 0) == 0;
      EXPECT_EQ(
          b.path(code.rfind("plist-", 0) == 0      ? plist
                 : code.rfind("runtime-", 0) == 0  ? lib
                 : code.rfind("package-", 0) == 0  ? "Contents/app/.package"
                 : code.rfind("launcher-", 0) == 0 ? "Contents/MacOS/App"
                                                   : cfg),
          f["file"]);
      // What stops the start is an error; the rest starts, maybe not as
      // meant. That more of one kind are not listed is only a note.
      const bool stops = code == "no-main" || code == "plist-unreadable" ||
                         code == "plist-executable" ||
                         code == "cfg-other-name" ||
                         code.rfind("runtime-", 0) == 0;
      EXPECT_EQ(code == "more-findings" ? "note"
                : stops                 ? "error"
                                        : "warning",
                f["severity"])
          << code;
    }
    for (size_t i = failing ? 1 : 0; i < row.expected.size(); ++i) {
      const std::string& e = row.expected[i];
      const size_t words = e.find(':', e.find(':') + 1);
      expected.push_back(e.substr(0, words));
      if (words != npos) {
        std::string text = e.substr(words + 1);
        if (text.find('@') != npos) {
          text.replace(text.find('@'), 1, b.root());
        }
        EXPECT_NE(npos, messages[expected.back()].find(text)) << text;
      }
    }
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, got);
    if (!nobody && !runtimeFinding && !failing) {
      const RunResult r = *run(b.launcher(), {}, {}, false, cwd);
      ASSERT_EQ(1u, r.record.calls.size()) << r;
      EXPECT_EQ(r.record.calls[0].argv, report["arguments"]);
    }
  }
}

// The launcher is Contents/MacOS/<CFBundleExecutable>, whatever the bundle
// is called, however it is named on the command line.
TEST(BundleCheck, LauncherAsTheMacStartsIt) {
  struct Row {
    std::string what, executable;      // CFBundleExecutable; "-" for none
    std::string bundleName, arg, cwd;  // arg and cwd: "@" is the bundle
    int status;
    std::string launcher;  // the name it takes, or the missing one
  };
  const Row rows[] = {
      {"renamed, with a helper", "App", "App 1.0.app", "@", "", 0, "App"},
      {"'.' inside the bundle", "App", "App.app", ".", "@", 0, "App"},
      {"a relative path with a trailing slash", "App", "App.app", "App.app/",
       "@/..", 0, "App"},
      {"no such file", "Other", "App.app", "@", "", 1, "Other"},
      {"another letter case", "app", "App.app", "@", "", 1, "app"},
      {"no key, renamed, with a helper", "-", "App 1.0.app", "@", "", 1,
       "App 1.0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Bundle b("App", mainClassCfg);
    const std::string key = row.executable == "-"
                                ? ""
                                : "<key>CFBundleExecutable</key><string>" +
                                      row.executable + "</string>";
    b.write(plist, "<plist><dict>" + key +
                       "<key>CFBundlePackageType</key><string>APPL</string>"
                       "<key>CFBundleIdentifier</key><string>a.b</string>"
                       "<key>LSMinimumSystemVersion</key><string>12</string>"
                       "</dict></plist>");
    b.write("Contents/MacOS/helper", "#!/bin/sh\n");
    const std::string root = b.temp() / row.bundleName;
    fs::rename(b.root(), root);
    const auto at = [&](std::string s) {
      return s.empty() || s[0] != '@' ? s : root + s.substr(1);
    };
    const json report =
        check({"--no-home", at(row.arg)}, {}, false, at(row.cwd));
    EXPECT_EQ(row.status, report["exitStatus"]) << report.dump(1);
    EXPECT_EQ(root, report["bundlePath"]);
    EXPECT_EQ(root + "/Contents/MacOS/" + row.launcher,
              report["launcher"]["path"]);
    if (row.status == 1) {
      EXPECT_EQ("No executable launcher at \"" + root + "/Contents/MacOS/" +
                    row.launcher + "\"",
                report["error"]);
      EXPECT_EQ(
          row.executable == "-" ? "plist-no-executable" : "plist-executable",
          report["findings"][0]["code"]);
    } else {
      const RunResult r = *run(root + "/Contents/MacOS/App", {});
      ASSERT_EQ(1u, r.record.calls.size()) << r;
      EXPECT_EQ(r.record.calls[0].argv, report["arguments"]);
    }
  }
}

// A binary Info.plist, as release pipelines leave it, is judged as its XML
// twin: the same report but for the format named.
TEST(BundleCheck, BinaryInfoPlistReportsAsItsXmlTwin) {
  const Bundle b("App", mainClassCfg);
  std::string reports[2];
  const char* const forms[] = {"xml", "bplist"};
  for (int i = 0; i != 2; ++i) {
    fs::copy(
        e2e::fixturePath("plist/wrong-executable." + std::string(forms[i])),
        b.path(plist), fs::copy_options::overwrite_existing);
    const RunResult r = *run(QUERN_CHECK, {b.root()});
    EXPECT_EQ(1, r.exitCode) << r;
    reports[i] = r.out;
    const size_t format = reports[i].find(i ? " (binary)\n" : " (xml)\n");
    ASSERT_NE(npos, format) << r;
    reports[i].erase(format, i ? 9 : 6);
  }
  EXPECT_EQ(reports[0], reports[1]);
  EXPECT_NE(npos, reports[1].find("  error alert: on\n")) << reports[1];
}

// Mach-O launchers and runtimes, made by hand, judged on this host as a Mac
// would start them; the vector is the ELF bundle's.
TEST(BundleCheck, MachOBundlesArchitectureByArchitecture) {
  using testsupport::machO;
  using testsupport::universal;
  const std::string fat = universal({"x86_64 exe", "arm64 exe signed"});
  const std::string arm = machO("arm64 exe signed");
  std::string overlap = universal({"x86_64 dylib", "arm64 dylib signed"});
  testsupport::poke(overlap, 8 + 20 + 8, 256, 4, true);  // at slice 1
  struct Row {
    std::string what, launcher, runtime;
    int status;
    std::string finding;        // "code:words of its message", or none
    std::string architectures;  // the runtime's, "name:signed" each
  };
  const auto row = [](std::string what, std::string launcher,
                      std::string runtime, int status, std::string finding,
                      std::string architectures) {
    return Row{what, launcher, runtime, status, finding, architectures};
  };
  // Every launcher here is ad hoc or unsigned, and most hold an unsigned
  // x86_64 slice: the distribution findings about that are left to
  // BundleSigning; the rows' status counts them.
  const Row rows[] = {
      row("universal runtime", fat,
          universal({"x86_64 dylib", "arm64 dylib signed"}, true), 2, "",
          "x86_64:false arm64:true"),
      row("no x86_64 slice", fat, machO("arm64 dylib signed"), 2,
          "runtime-wrong-machine:on Intel Macs (x86_64)", "arm64:true"),
      row("unsigned arm64 slice", fat,
          universal({"x86_64 dylib", "arm64 dylib"}), 2,
          "runtime-unsigned:on Macs with Apple silicon (arm64)",
          "x86_64:false arm64:false"),
      row("thin x86_64 behind arm64", arm, machO("x86_64 dylib signed"), 1,
          "runtime-wrong-machine:no arm64 slice", "x86_64:true"),
      row("unsigned arm64", arm, machO("arm64 dylib"), 1,
          "runtime-unsigned:not signed", "arm64:false"),
      row("arm64e only", arm, machO("arm64e dylib signed"), 1,
          "runtime-arm64e:arm64e", "arm64e:true"),
      row("text file", arm, "not a library\n", 1,
          "runtime-not-library:neither an ELF nor a Mach-O file", ""),
      row("x86_64 launcher", machO("x86_64 exe"), universal({"x86_64 dylib"}),
          2, "", "x86_64:false"),
      row("x86_64h only behind x86_64", machO("x86_64 exe"),
          machO("x86_64h dylib"), 1,
          "runtime-wrong-machine:no x86_64 slice (it holds x86_64h)",
          "x86_64h:false"),
      row("x86_64h launcher, x86_64 runtime", machO("x86_64h exe"),
          machO("x86_64 dylib"), 2, "", "x86_64:false"),
      row("program as runtime", arm, machO("arm64 exe signed"), 1,
          "runtime-not-library:no dynamic library", "arm64:true"),
      row("overlapping slices", arm, overlap, 1,
          "runtime-malformed:slice 2 (arm64) overlaps slice 1", "x86_64:false"),
      row("unsigned launcher", machO("arm64 exe"), machO("arm64 dylib signed"),
          1, "launcher-unsigned:not signed", "arm64:true"),
      row("launcher with the 64-bit universal header",
          universal({"x86_64 exe", "arm64 exe signed"}, true),
          universal({"x86_64 dylib", "arm64 dylib signed"}), 1,
          "launcher-malformed:the kernel starts only universal files with "
          "the 0xcafebabe header",
          "x86_64:false arm64:true"),
  };
  const Bundle b("App", mainClassCfg);
  const RunResult elf = b.launch();
  ASSERT_EQ(1u, elf.record.calls.size()) << elf;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    e2e::writeFile(b.launcher(), row.launcher);
    e2e::writeFile(b.runtimeLib(), row.runtime);
    // --load-runtime loads only a library of this host's own format.
    const json report = check({"--load-runtime", b.root()});
    EXPECT_EQ(row.status, report["exitStatus"]);
    EXPECT_EQ(elf.record.calls[0].argv, report["arguments"]);
    json findings = json::array();
    for (const json& f : report["findings"]) {
      if (f["code"] != "launcher-no-team-id" && f["code"] != "unsigned-code") {
        findings.push_back(f);
      }
    }
    ASSERT_EQ(row.finding.empty() ? 0u : 1u, findings.size());
    if (!row.finding.empty()) {
      const json& f = findings[0];
      const size_t colon = row.finding.find(':');
      EXPECT_EQ(row.finding.substr(0, colon), f["code"]);
      EXPECT_NE(npos, f["message"].get<std::string>().find(
                          row.finding.substr(colon + 1)))
          << f["message"];
      EXPECT_EQ("error", f["severity"]);
    }
    std::string architectures;
    for (const json& a : report["runtime"]["architectures"]) {
      architectures += (architectures.empty() ? "" : " ") +
                       a["name"].get<std::string>() + ":" + a["signed"].dump();
    }
    EXPECT_EQ(row.architectures, architectures);
    // A launcher that no Mac starts at all has one outcome, for the file.
    EXPECT_EQ(row.finding.rfind("launcher-malformed", 0) == 0
                  ? 1u
                  : report["launcher"]["architectures"].size(),
              report["runtime"]["loads"].size());
    if (row.status == 1) {
      const std::string line =
          row.finding.rfind("launcher-", 0) == 0
              ? "No Mac starts the launcher at \"" + b.launcher() + "\""
              : "dlopen(" + b.runtimeLib() + ") failed. Error: ";
      EXPECT_EQ(line, report["error"]);
      EXPECT_FALSE(report["errorCause"].is_null());
    }
    EXPECT_FALSE(report["runtime"]["notLoaded"].is_null());
    EXPECT_TRUE(report["runtime"]["loaded"].is_null());
    // The result names the Macs it fails on.
    for (const json& load : report["runtime"]["loads"]) {
      if (row.status == 2 && !load["loads"]) {
        EXPECT_NE(
            npos,
            run(QUERN_CHECK, {b.root()})
                ->out.find("\nResult: the bundle would launch, but not on " +
                           load["macs"].get<std::string>() + ", with " +
                           std::to_string(report["findings"].size()) +
                           " findings\n"));
      }
    }
  }
}

// A launcher linked to another bundle's copy reads that bundle's files;
// its format is known whatever the start fails on.
TEST(BundleCheck, LauncherLinkedToAnotherBundle) {
  const Bundle shared("App", mainClassCfg);
  const Bundle b("App", mainClassCfg);
  b.remove("Contents/MacOS/App");
  fs::create_symlink(shared.launcher(), b.launcher());
  shared.remove("Contents/runtime");
  const json report = check({"--no-home", b.root()});
  EXPECT_EQ(shared.launcher(), report["launcher"]["linkTarget"]);
  EXPECT_EQ(shared.cfgPath(), report["configuration"]["used"]);
  ASSERT_LE(1u, report["findings"].size());
  EXPECT_EQ("launcher-link", report["findings"][0]["code"]);
  EXPECT_NE(npos, report["findings"][0]["message"].get<std::string>().find(
                      "\"" + shared.appDir() + "\", not from this bundle"));
  EXPECT_EQ(1, report["exitStatus"]);  // the shared copy has no runtime
  EXPECT_FALSE(report["launcher"]["format"].is_null());
  EXPECT_EQ(1u, report["launcher"]["architectures"].size());
  EXPECT_NE(npos, run(QUERN_CHECK, {"--no-home", b.root()})
                      ->out.find("\n  symbolic link to: " + shared.launcher() +
                                 "\n"));
}

TEST(BundleCheck, SampleHasNoFindingAndTheLaunchersVector) {
  const e2e::TempDir t;
  ASSERT_EQ(0,
            run("/bin/bash",
                {e2e::sourceDir() + "/tools/make-sample-bundle",
                 e2e::launcherUnderTest(), e2e::standInRuntimeLib(), t.path()},
                {"PATH=/usr/bin:/bin"})
                ->exitCode);
  const json report = check({"--no-home", t / "Hello.app"});
  EXPECT_EQ(0, report["exitStatus"]);
  EXPECT_EQ(json::array(), report["findings"]);
  const RunResult r = *run(t / "Hello.app/Contents/MacOS/Hello", {});
  ASSERT_EQ(1u, r.record.calls.size()) << r;
  EXPECT_EQ(r.record.calls[0].argv, report["arguments"]);
}

// What tools/make-bundle writes into Info.plist, in both reports: the
// error-alert setting and an identity that leaves no finding.
TEST(BundleCheck, ReportsWhatMakeBundleWrites) {
  const e2e::TempDir t;
  e2e::writeFile(t / "App.cfg", mainClassCfg);
  const struct {
    std::vector<std::string> options;
    bool alert;
    std::string identifier;
  } rows[] = {
      {{"--error-alert", "--identifier", "com.example.a"},
       true,
       "com.example.a"},
      {{"--package", "com.example.b"}, false, "com.example.b"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.options[0]);
    std::vector<std::string> args = {"--launcher",    e2e::launcherUnderTest(),
                                     "--name",        "App",
                                     "--cfg",         t / "App.cfg",
                                     "--runtime-lib", e2e::standInRuntimeLib(),
                                     "--force",       "--out",
                                     t.path()};
    args.insert(args.end(), row.options.begin(), row.options.end());
    ASSERT_EQ(0, e2e::makeBundle(args).exitCode);
    const json report = check({"--no-home", t / "App.app"});
    EXPECT_EQ(0, report["exitStatus"]) << report["findings"].dump(1);
    EXPECT_EQ(row.alert, report["infoPlist"]["errorAlert"]);
    EXPECT_EQ(row.identifier, report["infoPlist"]["bundleIdentifier"]);
    EXPECT_NE(npos, run(QUERN_CHECK, {"--no-home", t / "App.app"})
                        ->out.find(row.alert ? "\n  error alert: on\n"
                                             : "\n  error alert: off\n"));
  }
}

// Every entry under `dir`: type and mode, size, times of change, content.
std::string listing(const std::string& dir) {
  std::ostringstream out;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    struct stat st;
    lstat(entry.path().c_str(), &st);
    out << entry.path() << " " << st.st_mode << " " << st.st_size << " "
        << st.st_mtim.tv_sec << "." << st.st_mtim.tv_nsec << " "
        << st.st_ctim.tv_sec << "." << st.st_ctim.tv_nsec << " "
        << (S_ISREG(st.st_mode)
                ? std::hash<std::string>()(e2e::readFile(entry.path()))
                : 0)
        << "\n";
  }
  return out.str();
}

// The per-user configuration and the command line the check assumes,
// against the launcher started with that HOME and those arguments. The
// bundle and the home directory, read-only, stay as they were.
TEST(BundleCheck, HomeAndArgumentsAsTheLauncherTakesThem) {
  const Bundle b("App", mainClassCfg + "[ArgOptions]\narguments=configured\n");
  b.writePackage("com.example.demo\n");
  const std::string home = b.temp() / "home";
  const std::string perUser =
      home + "/Library/Application Support/com.example.demo/App.cfg";
  e2e::writeFile(perUser, "[Application]\napp.mainclass=per.user.Main\n");
  const auto writable = [&](fs::perm_options how) {
    for (const std::string& dir : {b.root(), home}) {
      for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        fs::permissions(entry.path(), fs::perms::owner_write, how);
      }
    }
  };
  writable(fs::perm_options::remove);
  const std::string before = listing(b.temp().path());
  struct Row {
    std::vector<std::string> options;
    std::string checkHome, launcherHome;
    std::vector<std::string> args, tail;
  };
  const Row rows[] = {
      {{"--load-runtime"}, home, home, {}, {"per.user.Main"}},
      {{"--home", home}, "/nowhere", home, {}, {"per.user.Main"}},
      {{"--no-home"}, home, "", {}, {"demo.Main", "configured"}},
      {{"--no-home"},
       home,
       "",
       {"one", "$APPDIR", "-psn_0_42", ""},
       {"demo.Main", "one", "$APPDIR", ""}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.options) +
                 " HOME=" + row.checkHome + ::testing::PrintToString(row.args));
    std::vector<std::string> args = row.options;
    args.push_back(b.root());
    if (!row.args.empty()) {
      args.push_back("--");
      args.insert(args.end(), row.args.begin(), row.args.end());
    }
    const json report = check(args, {"HOME=" + row.checkHome});
    const bool bundles = row.tail[0] == "demo.Main";
    EXPECT_EQ(bundles ? b.cfgPath() : perUser, report["configuration"]["used"]);
    // A per-user copy in effect is a note.
    EXPECT_EQ(bundles ? 0 : 2, report["exitStatus"]);
    EXPECT_EQ(bundles ? 0u : 1u, report["findings"].size());
    for (const json& f : report["findings"]) {
      EXPECT_EQ("cfg-per-user", f["code"]);
      EXPECT_EQ("note", f["severity"]);
      EXPECT_EQ(perUser, f["file"]);
    }
    const std::vector<std::string> argv = report["arguments"];
    EXPECT_EQ(row.tail, std::vector<std::string>(
                            argv.end() - std::min(argv.size(), row.tail.size()),
                            argv.end()));
    const e2e::Environment env = {"HOME=" + row.launcherHome};
    const RunResult r =
        *run(b.launcher(), row.args,
             row.launcherHome.empty() ? e2e::Environment() : env);
    EXPECT_EQ(1u, r.record.calls.size()) << r;
    for (const e2e::LaunchCall& call : r.record.calls) {
      EXPECT_EQ(call.argv, argv);
      EXPECT_EQ(call.env.at("DYLD_LIBRARY_PATH"),
                report["environment"][0]["value"]);
    }
  }
  EXPECT_EQ(before, listing(b.temp().path()));
  writable(fs::perm_options::add);
}

TEST(BundleCheck, WrongCommandLinesExit64WithAUsageLine) {
  const Bundle b("App", mainClassCfg);
  const std::vector<std::vector<std::string>> commandLines = {
      {},
      {"--json"},
      {"--frobnicate", b.root()},
      {"--home"},
      {"--home", b.temp().path(), "--no-home", b.root()},
      {"--cwd", b.path("nowhere"), b.root()},
      {b.root(), b.root()},
  };
  for (const std::vector<std::string>& args : commandLines) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const RunResult r = *run(QUERN_CHECK, args);
    EXPECT_EQ(64, r.exitCode) << r;
    EXPECT_EQ("", r.out);
    EXPECT_NE(npos, r.err.find("\nusage: applauncher-check ")) << r;
  }
}

}  // namespace
