// The sample application of sample/, assembled as tools/run-sample does:
// its configuration must name files that the bundle really holds, and the
// vector it gives is the one the documentation shows.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "e2e/BundleHarness.h"

namespace {

using e2e::RunResult;

std::string makeSampleBundle(const e2e::TempDir& t) {
  e2e::RunOptions options;
  options.args = {e2e::sourceDir() + "/tools/make-sample-bundle",
                  e2e::launcherUnderTest(), e2e::standInRuntimeLib(),
                  t / "sample"};
  options.env = {"PATH=/usr/bin:/bin"};
  const RunResult made = e2e::run("/bin/bash", options);
  EXPECT_EQ(0, made.exitCode) << made;
  return t / "sample/Hello.app";
}

RunResult runWithHome(const std::string& launcher,
                      const std::vector<std::string>& args,
                      const std::string& home) {
  e2e::RunOptions options;
  options.args = args;
  options.env = {"HOME=" + home};
  return e2e::run(launcher, options);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream input(text);
  std::string part;
  while (std::getline(input, part, separator)) {
    parts.push_back(part);
  }
  return parts;
}

TEST(SampleBundle, ConfigurationNamesTheBundledFilesInTheDocumentedVector) {
  const e2e::TempDir t;
  const std::string root = makeSampleBundle(t);
  const std::string a = root + "/Contents/app";
  const std::string launcher = root + "/Contents/MacOS/Hello";

  const RunResult r = runWithHome(launcher, {}, t / "home");

  const std::vector<std::string> expected = {
      launcher,
      "--module-path",
      a + "/mods",
      "-classpath",
      a + "/hello.zar:" + a + "/lib/greeting.zar:" + a + "/lib/text-util.zar",
      "-splash:" + a + "/splash.png",
      "-Xmx256m",
      "-Dhello.data=" + a + "/data",
      "-Dhello.launcher.dir=" + root + "/Contents/MacOS",
      "-Dquern.app-path=" + launcher,
      "com.example.hello.Main",
      "--greeting",
      "Hello from the sample bundle",
  };
  e2e::expectLaunched(r, expected);
  for (const std::string& entry : split(expected[4], ':')) {
    EXPECT_TRUE(std::filesystem::is_regular_file(entry)) << entry;
  }
  EXPECT_TRUE(std::filesystem::is_directory(expected[2]));
  EXPECT_TRUE(std::filesystem::is_directory(a + "/data"));
}

TEST(SampleBundle, PerUserCopyAndCommandLineTakePrecedence) {
  const e2e::TempDir t;
  const std::string root = makeSampleBundle(t);
  const std::string launcher = root + "/Contents/MacOS/Hello";
  const std::string home = t / "home";
  e2e::writeFile(
      home + "/Library/Application Support/com.example.hello/Hello.cfg",
      "[Application]\n"
      "app.mainclass=com.example.hello.Main\n"
      "[ArgOptions]\n"
      "arguments=--greeting\n"
      "arguments=Hello from my own copy\n");

  e2e::expectLaunched(
      runWithHome(launcher, {}, home),
      {launcher, "-Dquern.app-path=" + launcher, "com.example.hello.Main",
       "--greeting", "Hello from my own copy"});
  e2e::expectLaunched(runWithHome(launcher, {"--name", "World"}, home),
                      {launcher, "-Dquern.app-path=" + launcher,
                       "com.example.hello.Main", "--name", "World"});
}

}  // namespace
