// The argument vector that the runtime receives, end to end: from the
// bundle's configuration and the launcher's own command line.

#include <gtest/gtest.h>

#include "e2e/BundleHarness.h"

namespace {

using e2e::Bundle;
using e2e::RunResult;

const char kExtra[] = "0 null 0 null \"\" \"\" \"zeal\" \"zeal\" 0 0 0 0";

TEST(LauncherArguments, ConfigurationWithEveryKeyGivesTheFullVectorInOrder) {
  const Bundle bundle("App",
                      e2e::readFile(e2e::fixturePath("e2e/every-key.cfg")));
  bundle.write("Contents/app/splash.png", "not really a picture");
  const std::string a = bundle.appDir();

  const RunResult r = bundle.launch({}, {"HOME=" + bundle.temp().path()});

  const std::vector<std::string> expected = {
      bundle.launcher(),
      "--module-path",
      a + "/mods",
      "--module-path",
      bundle.root() + "/extra mods",
      "-classpath",
      a + "/lib/a.zar:" + a + "/lib/b.zar",
      "-splash:" + a + "/splash.png",
      "-Xmx256m",
      "-Dgreeting=hello world",
      "-Dquern.app-path=" + bundle.launcher(),
      "-m",
      "com.example/com.example.Main",
      "com.example.Main",
      "-zar",
      a + "/main.zar",
      "--first",
      bundle.binDir() + "/second",
  };
  e2e::expectLaunched(r, expected);
  EXPECT_EQ("", r.out) << r;
  EXPECT_TRUE(r.record.unknownLines.empty()) << r;
  ASSERT_EQ(1u, r.record.calls.size());
  EXPECT_EQ(1, r.record.calls[0].call);
  EXPECT_EQ(kExtra, r.record.calls[0].extra) << r;
}

TEST(LauncherArguments, EmptyConfigurationGivesLauncherPathAndAppPathOnly) {
  // A file with nothing the launcher reads: comments, blank lines, keys
  // outside any section and unknown sections.
  const char* const configurations[] = {
      "",
      "; nothing here\n\n",
      "app.mainclass=outside.Any\n[Other]\napp.mainclass=in.Other\n",
      "[application]\napp.mainclass=wrong.Case\n[ArgOptions]\nargs=x\n",
  };
  for (const char* cfg : configurations) {
    SCOPED_TRACE(cfg);
    const Bundle bundle("App", cfg);
    e2e::expectLaunched(
        bundle.launch(),
        {bundle.launcher(), "-Dquern.app-path=" + bundle.launcher()});
  }
}

TEST(LauncherArguments, CommandLineReplacesConfiguredArgumentsUnexpanded) {
  const Bundle bundle("App",
                      "[Application]\n"
                      "app.mainclass=a.Main\n"
                      "[ArgOptions]\n"
                      "arguments=cfg-one\n"
                      "arguments=$APPDIR/cfg-two\n");
  const std::vector<std::string> configured = {"cfg-one",
                                               bundle.appDir() + "/cfg-two"};

  struct Case {
    std::vector<std::string> commandLine;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{}, configured},
      {{"one"}, {"one"}},
      {{"$APPDIR", "$BINDIR/x", "$ROOTDIR"},
       {"$APPDIR", "$BINDIR/x", "$ROOTDIR"}},
      // The system's process serial number is never the user's argument.
      {{"-psn_0_12345"}, configured},
      {{"-psn_0_1", "one", "-psn_x"}, {"one"}},
      {{"-psn", "-PSN_1", "x-psn_1"}, {"-psn", "-PSN_1", "x-psn_1"}},
      {{"two words", "", "tab\there", "\xC3\xBC"},
       {"two words", "", "tab\there", "\xC3\xBC"}},
      {{"--module-path", "a=b;c"}, {"--module-path", "a=b;c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.commandLine));
    std::vector<std::string> expected = {
        bundle.launcher(), "-Dquern.app-path=" + bundle.launcher(), "a.Main"};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    e2e::expectLaunched(bundle.launch(c.commandLine), expected);
  }
}

TEST(LauncherArguments, CommandLineArgumentsReachRuntimeWithoutArgSection) {
  const Bundle bundle("App", "[Application]\napp.mainzar=$APPDIR/app.zar\n");

  e2e::expectLaunched(
      bundle.launch({"--flag", "value"}),
      {bundle.launcher(), "-Dquern.app-path=" + bundle.launcher(), "-zar",
       bundle.appDir() + "/app.zar", "--flag", "value"});
}

TEST(LauncherArguments, MacrosExpandToTheBundlesOwnDirectories) {
  // The bundle sits in a directory with a blank in its name, one level
  // below the temporary directory, so that the root is not the directory
  // that holds it.
  const Bundle bundle("App",
                      "[ZealOptions]\n"
                      "zeal-options=-Da=$APPDIR\n"
                      "zeal-options=-Db=$BINDIR/x\n"
                      "zeal-options=-Dc=$ROOTDIR\n"
                      "zeal-options=-Dd=$APPDIR:$APPDIR\n"
                      "zeal-options=-De=$APPDIRX\n"
                      "zeal-options=-Df=$HOME/x\n"
                      "zeal-options=-Dg=$appdir\n",
                      "my apps");
  const std::string a = bundle.appDir();

  e2e::expectLaunched(
      bundle.launch({}, {"HOME=/home/nobody"}),
      {bundle.launcher(), "-Da=" + a, "-Db=" + bundle.binDir() + "/x",
       "-Dc=" + bundle.root(), "-Dd=" + a + ":" + a, "-De=" + a + "X",
       "-Df=$HOME/x", "-Dg=$appdir", "-Dquern.app-path=" + bundle.launcher()});
  EXPECT_EQ(bundle.temp().path() + "/my apps/App.app/Contents/app", a);
}

}  // namespace
