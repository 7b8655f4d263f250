// tools/make-bundle: the one way the tests, the sample and the documentation
// assemble bundles.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "e2e/BundleHarness.h"

namespace {

using e2e::RunResult;

using e2e::makeBundle;

bool isExecutable(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         (st.st_mode & S_IXUSR);
}

TEST(MakeBundle, RejectsBadInputWithoutMakingABundle) {
  const e2e::TempDir t;
  const std::string cfg = t / "in/App.cfg";
  const std::string lib = e2e::standInRuntimeLib();
  const std::string launcher = e2e::launcherUnderTest();
  e2e::writeFile(cfg, "[Application]\napp.mainclass=a.Main\n");
  e2e::writeFile(t / "in/not-executable", "#!/bin/sh\n");
  e2e::writeFile(t / "in/empty-runtime/Contents/Home/readme", "");
  const std::string out = t / "out";
  const std::vector<std::string> good = {
      "--launcher", launcher, "--name", "App", "--cfg", cfg, "--out", out};
  const auto with = [&good](std::vector<std::string> more) {
    more.insert(more.begin(), good.begin(), good.end());
    return more;
  };

  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{}, "--launcher is required"},
      {{"--launcher", launcher, "--cfg", cfg, "--runtime-lib", lib, "--out",
        out},
       "--name is required"},
      {{"--launcher", launcher, "--name", "App", "--runtime-lib", lib, "--out",
        out},
       "--cfg is required"},
      {{"--launcher", launcher, "--name", "App", "--cfg", cfg, "--runtime-lib",
        lib},
       "--out is required"},
      {{"--launcher", t / "in/none", "--name", "App", "--cfg", cfg,
        "--runtime-lib", lib, "--out", out},
       "is not a file"},
      {{"--launcher", t / "in/not-executable", "--name", "App", "--cfg", cfg,
        "--runtime-lib", lib, "--out", out},
       "is not executable"},
      {{"--launcher", launcher, "--name", "App", "--cfg", t / "in/none.cfg",
        "--runtime-lib", lib, "--out", out},
       "configuration '" + t / "in/none.cfg" + "' is not a file"},
      {with({}),
       "exactly one of --runtime-lib, --runtime-dir and --no-runtime"},
      {with({"--runtime-lib", lib, "--no-runtime"}), "exactly one of"},
      {with({"--runtime-lib", t / "in/none.dylib"}), "is not a file"},
      {with({"--runtime-dir", t / "in/empty-runtime"}),
       "holds no Contents/Home/lib/libzli.dylib"},
      {with({"--runtime-lib", lib, "--app-file", t / "in/none.zar"}),
       "does not exist"},
      {with({"--runtime-lib", lib, "--app-dir", cfg}), "is not a directory"},
      {with({"--runtime-lib", lib, "--name", "a/b"}), "is not usable"},
      {with({"--runtime-lib", lib, "--name", ".."}), "is not usable"},
      {with({"--runtime-lib", lib, "--package", "two\nlines"}),
       "must be one line"},
      {with({"--runtime-lib", lib, "--no-info-plist", "--error-alert"}),
       "--error-alert needs the Info.plist"},
      {with({"--runtime-lib", lib, "--bogus"}), "unknown argument '--bogus'"},
      {with({"--runtime-lib"}), "option --runtime-lib needs a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));

    const RunResult r = makeBundle(c.args);

    EXPECT_EQ(2, r.exitCode) << r;
    EXPECT_EQ("", r.out) << r;
    EXPECT_EQ(0u, r.err.find("make-bundle: ")) << r;
    EXPECT_NE(std::string::npos, r.err.find(c.error)) << r;
    EXPECT_FALSE(std::filesystem::exists(out + "/App.app")) << r;
    EXPECT_FALSE(std::filesystem::exists(out + "/a/b.app")) << r;
  }
}

TEST(MakeBundle, AssemblesTheLayoutTheLauncherExpects) {
  const e2e::TempDir t;
  e2e::writeFile(t / "in/Hello.cfg",
                 "[Application]\n"
                 "app.classpath=$APPDIR/hello.zar\n"
                 "app.classpath=$APPDIR/lib/util.zar\n"
                 "app.mainclass=hello.Main\n");
  e2e::writeFile(t / "in/hello.zar", "zar");
  e2e::writeFile(t / "in/lib/util.zar", "util");
  e2e::writeFile(t / "in/extra/notes.txt", "notes");
  // An application file named like the configuration does not replace it.
  e2e::writeFile(t / "in/extra/Hello.cfg", "[Application]\napp.mainclass=x\n");
  e2e::copyFile(e2e::standInRuntimeLib(),
                t / "in/runtime/Contents/Home/lib/libzli.dylib");
  const std::vector<std::string> args = {
      "--launcher",    e2e::launcherUnderTest(),
      "--name",        "Hello",
      "--cfg",         t / "in/Hello.cfg",
      "--runtime-dir", t / "in/runtime",
      "--app-file",    t / "in/hello.zar",
      "--app-file",    t / "in/lib",
      "--app-dir",     t / "in/extra",
      "--package",     "com.example.hello",
      "--out",         t / "out/new"};

  const RunResult made = makeBundle(args);

  const std::string root = t / "out/new/Hello.app";
  ASSERT_EQ(0, made.exitCode) << made;
  EXPECT_EQ(root + "\n", made.out) << made;
  EXPECT_EQ("", made.err) << made;
  EXPECT_TRUE(isExecutable(root + "/Contents/MacOS/Hello"));
  EXPECT_EQ(e2e::readFile(t / "in/Hello.cfg"),
            e2e::readFile(root + "/Contents/app/Hello.cfg"));
  EXPECT_EQ("zar", e2e::readFile(root + "/Contents/app/hello.zar"));
  EXPECT_EQ("util", e2e::readFile(root + "/Contents/app/lib/util.zar"));
  EXPECT_EQ("notes", e2e::readFile(root + "/Contents/app/notes.txt"));
  EXPECT_EQ("com.example.hello\n",
            e2e::readFile(root + "/Contents/app/.package"));
  EXPECT_TRUE(std::filesystem::exists(
      root + "/Contents/runtime/Contents/Home/lib/libzli.dylib"));

  const RunResult launched = e2e::run(root + "/Contents/MacOS/Hello", {});
  EXPECT_EQ(0, launched.exitCode) << launched;
  ASSERT_EQ(1u, launched.record.calls.size()) << launched;
  const std::string a = root + "/Contents/app";
  const std::vector<std::string> expected = {
      root + "/Contents/MacOS/Hello", "-classpath",
      a + "/hello.zar:" + a + "/lib/util.zar",
      "-Dquern.app-path=" + root + "/Contents/MacOS/Hello", "hello.Main"};
  EXPECT_EQ(expected, launched.record.calls[0].argv) << launched;

  // An existing bundle is kept unless --force replaces it whole.
  e2e::writeFile(a + "/stale.txt", "stale");
  const RunResult again = makeBundle(args);
  EXPECT_EQ(2, again.exitCode) << again;
  EXPECT_TRUE(std::filesystem::exists(a + "/stale.txt"));
  std::vector<std::string> forced = args;
  forced.push_back("--force");
  const RunResult replaced = makeBundle(forced);
  EXPECT_EQ(0, replaced.exitCode) << replaced;
  EXPECT_FALSE(std::filesystem::exists(a + "/stale.txt"));
  EXPECT_TRUE(std::filesystem::exists(a + "/hello.zar"));
}

}  // namespace
