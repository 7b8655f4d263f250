#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "AppLauncher.h"
#include "ErrorHandling.h"
#include "ZvmLauncher.h"
#include "helpers/LauncherTestSupport.h"
#include "helpers/TestSupport.h"

namespace {

using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::writeFile;

// One launch description built in-process from a launcher path, arguments
// and a layout in a temporary directory: which configuration is read, the
// library search-path entry, the argument replacement and the library
// candidates. The end-to-end tests check that the real launcher wires the
// same rules to the process.
TEST(AppLauncherRules, DescriptionFollowsLookupEnvironmentAndArgumentRules) {
  TempDir tmp;
  const std::string launcher = tmp / "b/Contents/MacOS/App";
  const std::string appDir = tmp / "b/Contents/app";
  const std::string runtime = tmp / "rt";
  const std::string lib1 = runtime + "/lib/one.dylib";
  const std::string lib2 = runtime + "/lib/two.dylib";
  writeFile(appDir + "/App.cfg",
            "[Application]\napp.mainclass=FromAppDir\n"
            "[ArgOptions]\narguments=$APPDIR\n");
  writeFile(tmp / "user2/App.cfg", "[Application]\napp.mainclass=FromUser\n");
  writeFile(tmp / "user3/App.cfg", "[Application]\napp.mainclass=FromUser3\n");
  writeFile(tmp / "own-rt/lib/two.dylib", "");
  testsupport::RecordingLogAppender log;
  const testsupport::ScopedLogAppender installed(&log);

  struct Row {
    const char* name;
    StringList lookupDirs;
    StringList libFiles;  // created under the runtime directory
    std::optional<std::string> libPathVar;
    StringList args;
    // Expected: the arguments after "-Dquern.app-path=", the library, the
    // environment entry (empty: none), or the error.
    StringList tail;
    std::string lib;
    std::string envValue;
    std::string error;
  };
  const Row rows[] = {
      {"configured arguments, expanded; unset variable gets ':' + app dir",
       {},
       {lib1, lib2},
       std::nullopt,
       {},
       {"FromAppDir", appDir},
       lib1,
       ":" + appDir,
       ""},
      {"first lookup directory holding the file wins over the app dir",
       {tmp / "user1", tmp / "user2", tmp / "user3"},
       {lib2},
       "/a:" + appDir + "/",
       {},
       {"FromUser"},
       lib2,
       "/a:" + appDir + "/:" + appDir,
       ""},
      {"arguments replace the configured ones, unexpanded; listed app dir",
       {tmp / "user1"},
       {lib1},
       "/a:" + appDir,
       {"$APPDIR", "two"},
       {"FromAppDir", "$APPDIR", "two"},
       lib1,
       "",
       ""},
      {"arguments create ArgOptions when the file has none",
       {tmp / "user2"},
       {lib1},
       "",
       {"x"},
       {"FromUser", "x"},
       lib1,
       ":" + appDir,
       ""},
      {"no library candidate",
       {},
       {},
       std::nullopt,
       {},
       {},
       "",
       "",
       "Failed to find ZVM in \"" + runtime + "\" directory."},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove_all(runtime);
    for (const std::string& lib : row.libFiles) {
      writeFile(lib, "");
    }
    const ScopedEnv libPathVar("QUERN_TEST_LIB_PATH", row.libPathVar);
    AppLauncher appLauncher(launcher, row.args);
    appLauncher.setAppDir(appDir)
        .setImageRoot(tmp / "b")
        .setLibEnvVariableName("QUERN_TEST_LIB_PATH")
        .setDefaultRuntimePath(runtime)
        .addZvmLibName("lib/one.dylib")
        .addZvmLibName("lib/two.dylib");
    for (const std::string& dir : row.lookupDirs) {
      appLauncher.addCfgFileLookupDir(dir);
    }

    std::unique_ptr<Zvm> zvm;
    try {
      zvm.reset(appLauncher.createZvmLauncher());
    } catch (const QuernErrorBase& e) {
      EXPECT_EQ(row.error, e.rawMessage());
      continue;
    }
    ASSERT_EQ("", row.error);
    StringList expected = {launcher, "-Dquern.app-path=" + launcher};
    expected.insert(expected.end(), row.tail.begin(), row.tail.end());
    EXPECT_EQ(expected, zvm->getArgs());
    EXPECT_EQ(row.lib, zvm->getLibPath());
    const StringList names = zvm->getEnvNames();
    EXPECT_EQ(
        row.envValue.empty() ? StringList{} : StringList{"QUERN_TEST_LIB_PATH"},
        names);
    EXPECT_EQ(row.envValue.empty() ? StringList{} : StringList{row.envValue},
              zvm->getEnvValues());
  }

  // A configured runtime directory replaces the default one.
  writeFile(appDir + "/App.cfg",
            "[Application]\napp.runtime=" + std::string(tmp / "own-rt") + "\n");
  AppLauncher configured(launcher, {});
  configured.setAppDir(appDir)
      .setDefaultRuntimePath(runtime)
      .addZvmLibName("lib/one.dylib")
      .addZvmLibName("lib/two.dylib");
  const std::unique_ptr<Zvm> zvm(configured.createZvmLauncher());
  EXPECT_EQ(tmp / "own-rt/lib/two.dylib", zvm->getLibPath());
}

}  // namespace
