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

  EXPECT_EQ(0, r.exitCode) << r;
  EXPECT_EQ("", r.err) << r;
  ASSERT_EQ(1u, r.record.calls.size()) << r;
  const std::vector<std::string>& argv = r.record.calls[0].argv;
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
  ASSERT_EQ(expected, argv) << r;
  for (const std::string& entry : split(argv[4], ':')) {
    EXPECT_TRUE(std::filesystem::is_regular_file(entry)) << entry;
  }
  EXPECT_TRUE(std::filesystem::is_directory(argv[2]));
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

  const RunResult own = runWithHome(launcher, {}, home);
  const RunResult args = runWithHome(launcher, {"--name", "World"}, home);

  EXPECT_EQ(0, own.exitCode) << own;
  ASSERT_EQ(1u, own.record.calls.size()) << own;
  const std::vector<std::string> expectedOwn = {
      launcher, "-Dquern.app-path=" + launcher, "com.example.hello.Main",
      "--greeting", "Hello from my own copy"};
  EXPECT_EQ(expectedOwn, own.record.calls[0].argv) << own;

  EXPECT_EQ(0, args.exitCode) << args;
  ASSERT_EQ(1u, args.record.calls.size()) << args;
  const std::vector<std::string> expectedArgs = {
      launcher, "-Dquern.app-path=" + launcher, "com.example.hello.Main",
      "--name", "World"};
  EXPECT_EQ(expectedArgs, args.record.calls[0].argv) << args;
}

}  // namespace
