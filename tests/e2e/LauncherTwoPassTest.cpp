// The runtime calls main again, on a new thread, while its entry point is
// running. Every case runs twice: with the first call waiting for the second
// pass, and with it busy meanwhile, reading the environment and logging
// through the launcher as a real runtime's main thread does. These cases
// also run under ThreadSanitizer.

#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/BundleHarness.h"

namespace {

using e2e::Bundle;
using e2e::RunResult;

// Both calls of the runtime saw the same vector and the same environment.
void expectSameLaunchTwice(const RunResult& r) {
  ASSERT_EQ(2u, r.record.calls.size()) << r;
  EXPECT_EQ(1, r.record.calls[0].call) << r;
  EXPECT_EQ(2, r.record.calls[1].call) << r;
  EXPECT_EQ(r.record.calls[0].argv, r.record.calls[1].argv) << r;
  EXPECT_EQ(r.record.calls[0].env, r.record.calls[1].env) << r;
  EXPECT_EQ(r.record.calls[0].extra, r.record.calls[1].extra) << r;
  EXPECT_TRUE(r.record.unknownLines.empty()) << r;
}

// The parameter: whether the first call keeps busy (ZLI_STANDIN_BUSY).
class LauncherTwoPass : public testing::TestWithParam<bool> {
 protected:
  RunResult launch(const Bundle& bundle, const std::vector<std::string>& args,
                   e2e::Environment env) const {
    env.push_back("ZLI_STANDIN_REENTER=1");
    if (GetParam()) {
      env.push_back("ZLI_STANDIN_BUSY=1");
    }
    return bundle.launch(args, env);
  }
};

INSTANTIATE_TEST_SUITE_P(FirstCall, LauncherTwoPass, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Busy" : "Waits";
                         });

TEST_P(LauncherTwoPass, ReenteredMainLaunchesAgainWithTheSameVector) {
  const Bundle bundle("App",
                      e2e::readFile(e2e::fixturePath("e2e/every-key.cfg")));
  bundle.write("Contents/app/splash.png", "splash");

  const RunResult r = launch(bundle, {"user-arg", "$APPDIR"}, {});

  EXPECT_EQ(0, r.exitCode) << r;
  EXPECT_EQ("", r.err) << r;
  expectSameLaunchTwice(r);
  EXPECT_EQ(std::vector<int>{0}, r.record.reentryStatuses) << r;
  ASSERT_FALSE(r.record.calls.empty());
  const std::vector<std::string>& argv = r.record.calls[0].argv;
  ASSERT_GE(argv.size(), 3u) << r;
  // The second pass gets the runtime's vector as its own arguments, but
  // launches with the first pass's description.
  EXPECT_EQ("user-arg", argv[argv.size() - 2]) << r;
  EXPECT_EQ("$APPDIR", argv[argv.size() - 1]) << r;
  ASSERT_EQ(1u, r.record.calls[1].env.count("DYLD_LIBRARY_PATH")) << r;
  EXPECT_EQ(":" + bundle.appDir(),
            r.record.calls[1].env.at("DYLD_LIBRARY_PATH").value_or("<unset>"))
      << r;
}

TEST_P(LauncherTwoPass, SecondPassReadsNoFile) {
  // The per-user configuration wins in the first pass; then every file the
  // first pass read is removed before main is entered again.
  const Bundle bundle("App", "[Application]\napp.mainclass=bundle.Main\n");
  bundle.writePackage("com.example.twopass\n");
  const std::string home = bundle.temp() / "home";
  const std::string userCfg =
      home + "/Library/Application Support/com.example.twopass/App.cfg";
  e2e::writeFile(userCfg,
                 "[Application]\napp.mainclass=user.Main\n"
                 "[ArgOptions]\narguments=configured\n");
  const std::string removed =
      userCfg + ":" + bundle.cfgPath() + ":" + bundle.appDir() + "/.package";

  const RunResult r =
      launch(bundle, {},
             {"HOME=" + home, "ZLI_STANDIN_BEFORE_REENTER_UNLINK=" + removed});

  EXPECT_EQ(0, r.exitCode) << r;
  EXPECT_EQ("", r.err) << r;
  expectSameLaunchTwice(r);
  EXPECT_EQ(std::vector<int>{0}, r.record.reentryStatuses) << r;
  ASSERT_FALSE(r.record.calls.empty());
  const std::vector<std::string> expectedTail = {"user.Main", "configured"};
  const std::vector<std::string>& argv = r.record.calls[0].argv;
  ASSERT_GE(argv.size(), 2u) << r;
  EXPECT_EQ(expectedTail, std::vector<std::string>(argv.end() - 2, argv.end()))
      << r;
  // The files really were gone during the second pass.
  EXPECT_FALSE(std::filesystem::exists(userCfg));
  EXPECT_FALSE(std::filesystem::exists(bundle.cfgPath()));
  EXPECT_FALSE(std::filesystem::exists(bundle.appDir() + "/.package"));
}

TEST_P(LauncherTwoPass, SecondPassOnlyLaunches) {
  const Bundle bundle("App", "[Application]\napp.mainclass=a.Main\n");

  const RunResult r = launch(bundle, {}, {"QUERN_DEBUG=true"});

  EXPECT_EQ(0, r.exitCode) << r;
  expectSameLaunchTwice(r);
  // Two passes through the run frame and two launches, but one
  // configuration read and one launch description. Each text is one write:
  // a busy first call's lines may land between the pieces of a line.
  EXPECT_EQ(2u, r.countErrLines("Entering launch")) << r;
  EXPECT_EQ(2u, r.countErrLines("Exiting launch")) << r;
  EXPECT_EQ(2u, r.countErrLines("ZVM library: \"")) << r;
  EXPECT_EQ(2u, r.countErrLines("zli lib: [")) << r;
  EXPECT_EQ(1u, r.countErrLines("Launcher config file path: ")) << r;
  EXPECT_EQ(1u, r.countErrLines(")::Zvm()")) << r;
  EXPECT_EQ(0u, r.countErrLines("[ERROR]")) << r;
  // The busy first call logs through the launcher's exported function.
  EXPECT_EQ(GetParam(), r.countErrLines("stand-in busy: round ") > 0) << r;
}

TEST_P(LauncherTwoPass, FailingRuntimeFailsBothPasses) {
  const Bundle bundle("App", "[Application]\napp.mainclass=a.Main\n");

  const RunResult r = launch(bundle, {}, {"ZLI_STANDIN_STATUS=7"});

  EXPECT_EQ(1, r.exitCode) << r;
  expectSameLaunchTwice(r);
  EXPECT_EQ(std::vector<int>{1}, r.record.reentryStatuses) << r;
  EXPECT_EQ("Failed to launch ZVM\nFailed to launch ZVM\n", r.err) << r;
}

}  // namespace
