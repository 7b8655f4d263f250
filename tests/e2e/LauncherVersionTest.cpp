// The launcher's version marker as applauncher-check finds it: the launcher
// of this build names this build's version; other files name theirs or none.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "e2e/BundleHarness.h"

namespace {

using namespace std::string_literals;

const std::string marker = "quern-launcher-version=";

// Runs the bundle check with these arguments.
e2e::RunResult check(const std::vector<std::string>& args) {
  return e2e::run(QUERN_CHECK, e2e::RunOptions{args, "", {}, "", 60});
}

TEST(LauncherVersion, CheckReportsTheMarkerOfTheBundlesLauncher) {
  const e2e::Bundle b("App", "[Application]\napp.mainclass=demo.Main\n");
  const std::string built = e2e::readFile(b.launcher());
  // Markers across the end of the first MiB, which is read first.
  const size_t mib = size_t(1) << 20;
  struct Row {
    std::string file, version;
  };
  const Row rows[] = {
      {built, QUERN_VERSION},
      {"#!/bin/sh\n", ""},
      {std::string(mib - 10, 'x') + marker + "2.5-rc1\0z"s, "2.5-rc1"},
      {std::string(mib - 25, 'x') + marker + "2.5-rc2\0"s, "2.5-rc2"},
      {marker + "1.0\n" + marker + "bad value\0"s + marker + "3\0"s, "3"},
      {marker + std::string(65, '9') + "\0"s, ""},
      {"a" + marker + "4.0", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(&row - rows);
    e2e::writeFile(b.launcher(), row.file);
    const e2e::RunResult text = check({"--no-home", b.root()});
    const nlohmann::json report =
        nlohmann::json::parse(check({"--json", "--no-home", b.root()}).out);
    EXPECT_EQ(1, report["formatVersion"]);
    EXPECT_EQ(
        row.version.empty() ? nlohmann::json() : nlohmann::json(row.version),
        report["launcher"]["version"]);
    const std::string shown =
        row.version.empty() ? "none (no version marker)" : row.version;
    EXPECT_NE(std::string::npos, text.out.find("\n  version: " + shown + "\n"))
        << text;
  }
  const e2e::RunResult r = check({"--version"});
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("applauncher-check " QUERN_VERSION "\n", r.out);
}

}  // namespace
