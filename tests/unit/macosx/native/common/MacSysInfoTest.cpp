#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ErrorHandling.h"
#include "SysInfo.h"
#include "helpers/TestSupport.h"

namespace {

using testsupport::TempDir;

std::vector<char> zeroTerminated(const std::string& path, size_t extraZeros) {
  std::vector<char> buffer(path.begin(), path.end());
  buffer.resize(buffer.size() + 1 + extraZeros, 0);
  return buffer;
}

void makeLink(const std::string& target, const std::string& link) {
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str())) << std::strerror(errno);
}

// Starts the probe as `path` (no search: a relative path is taken from
// `cwd`) with `cwd` as its working directory.
testsupport::ChildResult runProbe(const std::string& cwd,
                                  const std::string& path) {
  testsupport::ProgramOptions options;
  options.cwd = cwd;
  return testsupport::runProgram(path, options);
}

class MacSysInfoArgs : public ::testing::Test {
 protected:
  MacSysInfoArgs() : savedArgc(SysInfo::argc), savedArgv(SysInfo::argv) {}
  ~MacSysInfoArgs() override {
    SysInfo::argc = savedArgc;
    SysInfo::argv = savedArgv;
  }

  StringList argsOf(std::vector<std::string> args,
                    SysInfo::CommandArgProgramNameMode mode) {
    std::vector<char*> argv;
    for (std::string& a : args) {
      argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    SysInfo::argc = static_cast<int>(args.size());
    SysInfo::argv = argv.data();
    return SysInfo::getCommandArgs(mode);
  }

 private:
  int savedArgc;
  char** savedArgv;
};

TEST_F(MacSysInfoArgs, DropsEveryProcessSerialNumberArgument) {
  struct Case {
    const char* name;
    StringList argv;
    SysInfo::CommandArgProgramNameMode mode;
    StringList expected;
  };
  const StringList mixed = {
      "/App",  "-psn_0_12345", "-psn",       "keep",   "-PSN_x",
      "-psn_", "-Psn_y",       "-psn_later", "x-psn_", ""};
  const Case cases[] = {
      {"mixed, without program name",
       mixed,
       SysInfo::WithoutProgramName,
       {"-psn", "keep", "-PSN_x", "-Psn_y", "x-psn_", ""}},
      {"mixed, with program name",
       mixed,
       SysInfo::WithProgramName,
       {"/App", "-psn", "keep", "-PSN_x", "-Psn_y", "x-psn_", ""}},
      {"program name itself with the prefix",
       {"-psn_app", "a"},
       SysInfo::WithProgramName,
       {"a"}},
      {"program name only", {"/App"}, SysInfo::WithoutProgramName, {}},
      {"program name only, kept", {"/App"}, SysInfo::WithProgramName, {"/App"}},
      {"nothing", {}, SysInfo::WithoutProgramName, {}},
      {"nothing, with program name", {}, SysInfo::WithProgramName, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, argsOf(c.argv, c.mode));
  }
}

TEST(MacSysInfo, RealPathOfPlainAndMissingPaths) {
  TempDir tmp;
  const std::string file = tmp / "file";
  testsupport::writeFile(file, "x");
  // Only the text up to the first zero byte counts.
  EXPECT_EQ(file, SysInfo::getRealPath(zeroTerminated(file, 0)));
  EXPECT_EQ(file, SysInfo::getRealPath(zeroTerminated(file, 40)));
  EXPECT_EQ(tmp.path(), SysInfo::getRealPath(zeroTerminated(tmp.path(), 3)));

  const std::string missing = tmp / "missing/file";
  try {
    SysInfo::getRealPath(zeroTerminated(missing, 0));
    ADD_FAILURE() << "no failure";
  } catch (const QuernError<std::runtime_error>& e) {
    EXPECT_EQ("lstat(" + missing + ") failed. Error: " + std::strerror(ENOENT),
              e.rawMessage());
    EXPECT_NE(std::string::npos,
              std::string(e.what()).find(" at getRealPath(): lstat("));
  }
}

TEST(MacSysInfo, RealPathReadsOneLevelOfLink) {
  TempDir tmp;
  ASSERT_EQ(0, mkdir((tmp / "dir").c_str(), 0755));
  testsupport::writeFile(tmp / "file", "x");
  struct Case {
    const char* name;
    std::string target;
    std::string link;
    std::string expected;
  };
  const Case cases[] = {
      {"absolute target", tmp / "file", tmp / "abs", tmp / "file"},
      {"relative target, taken from the link's directory", "../file",
       tmp / "dir/rel", tmp / "dir/../file"},
      {"relative target in the same directory", "file", tmp / "same",
       tmp / "file"},
      {"dangling target stays as it is", "nowhere/x", tmp / "dir/dangling",
       tmp / "dir/nowhere/x"},
      {"a link to a link is not followed", tmp / "abs", tmp / "chain",
       tmp / "abs"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    makeLink(c.target, c.link);
    EXPECT_EQ(c.expected, SysInfo::getRealPath(zeroTerminated(c.link, 0)));
  }

  // A link named without a directory: its target is taken as it is.
  const testsupport::ScopedCurrentDir inDir(tmp / "dir");
  makeLink("sub/target", "bare");
  EXPECT_EQ("sub/target", SysInfo::getRealPath(zeroTerminated("bare", 0)));
}

class MacSysInfoModulePath : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, mkdir((tmp / "real").c_str(), 0755));
    ASSERT_EQ(0, mkdir((tmp / "bin").c_str(), 0755));
    real = tmp / "real/probe";
    install(real);
  }

  static void install(const std::string& path) {
    std::filesystem::copy_file(QUERN_PATH_PROBE, path);
    ASSERT_EQ(0, chmod(path.c_str(), 0755));
  }

  // The probe's answer must be `expected`, naming the file itself.
  static void expectProbe(const std::string& cwd, const std::string& path,
                          const std::string& expected,
                          const std::string& file) {
    SCOPED_TRACE("started as " + path + " from " + cwd);
    const testsupport::ChildResult run = runProbe(cwd, path);
    ASSERT_EQ(0, run.exitCode) << run;
    EXPECT_EQ(expected + "\n", run.out) << run;
    const std::string printed = run.out.substr(0, run.out.find('\n'));
    struct stat got, want;
    ASSERT_EQ(0, lstat(printed.c_str(), &got)) << run;
    ASSERT_EQ(0, stat(file.c_str(), &want));
    EXPECT_FALSE(S_ISLNK(got.st_mode));
    EXPECT_EQ(want.st_ino, got.st_ino);
    EXPECT_EQ(want.st_dev, got.st_dev);
  }

  TempDir tmp;
  std::string real;
};

TEST_F(MacSysInfoModulePath, StartedDirectly) {
  const std::string t = tmp.path();
  expectProbe("/", real, real, real);
  // From the root, a relative path gains one slash, not two.
  expectProbe("/", real.substr(1), real, real);
  expectProbe(t, "real/probe", real, real);
  // As dyld since macOS 12, the leading "./" is dropped.
  expectProbe(t, "./real/probe", real, real);
  expectProbe(t + "/real", "probe", real, real);
  expectProbe(t + "/bin", "../real/probe", t + "/bin/../real/probe", real);
}

TEST_F(MacSysInfoModulePath, StartedThroughLinks) {
  const std::string t = tmp.path();
  makeLink(real, tmp / "abs-link");
  makeLink("../real/probe", tmp / "bin/probe");
  makeLink("probe", tmp / "real/alias");

  expectProbe("/", t + "/abs-link", real, real);
  expectProbe(t + "/bin", "../abs-link", real, real);
  // A relative target is found from the link's directory, wherever the
  // process was started from.
  expectProbe(t, "bin/probe", t + "/bin/../real/probe", real);
  expectProbe("/", t + "/bin/probe", t + "/bin/../real/probe", real);
  expectProbe(t + "/bin", "probe", t + "/bin/../real/probe", real);
  expectProbe("/", t + "/real/alias", real, real);
}

// Paths longer than macOS allows (PATH_MAX, 1024 bytes) work on Linux only.
TEST_F(MacSysInfoModulePath, LinuxOnlyPathsOverMacPathMax) {
  const std::string longTarget = "/" + std::string(3000, 'L') + "/end";
  makeLink(longTarget, tmp / "long");
  EXPECT_EQ(longTarget, SysInfo::getRealPath(zeroTerminated(tmp / "long", 0)));

  // Nested directories whose path is well over 1024 bytes.
  std::string dir = tmp.path();
  while (dir.size() < 1500) {
    dir += "/" + std::string(200, 'd');
    ASSERT_EQ(0, mkdir(dir.c_str(), 0755)) << std::strerror(errno);
  }
  const std::string deep = dir + "/probe";
  install(deep);
  makeLink(deep, tmp / "long-link");
  expectProbe("/", tmp / "long-link", deep, deep);
  expectProbe(tmp.path(), "long-link", deep, deep);
}

}  // namespace
