#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "helpers/TestSupport.h"

namespace {

namespace fs = std::filesystem;

using testsupport::ScopedCurrentDir;
using testsupport::TempDir;

TEST(UnixFileUtilsIsFileExists, FollowsLinksAndAcceptsDirectories) {
  const TempDir tmp;
  const std::string file = tmp.path() + "/file.cfg";
  testsupport::writeFile(file, "x");
  fs::create_directory(tmp.path() + "/dir");
  fs::create_symlink(tmp.path() + "/missing", tmp.path() + "/dangling");
  fs::create_symlink(file, tmp.path() + "/link-to-file");
  fs::create_directory_symlink(tmp.path() + "/dir",
                               tmp.path() + "/link-to-dir");

  const struct {
    std::string path;
    bool exists;
  } cases[] = {
      {file, true},
      {tmp.path() + "/dir", true},
      {tmp.path() + "/dir/", true},
      {tmp.path() + "/link-to-file", true},
      {tmp.path() + "/link-to-dir", true},
      {tmp.path() + "/dangling", false},
      {tmp.path() + "/missing", false},
      {file + "/below-a-file", false},
      {"", false},
      // The system would see only the part in front of the zero byte.
      {file + std::string(1, '\0'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.exists, FileUtils::isFileExists(c.path));
  }
}

TEST(UnixFileUtilsToAbsolutePath, JoinsRelativePathsToCurrentDirectory) {
  const TempDir tmp;
  const std::string cwd = tmp.path();
  {
    const ScopedCurrentDir in(cwd);
    const struct {
      std::string path;
      std::string expected;
    } cases[] = {
        {"/x", "/x"},
        {"\\x", "\\x"},
        {"//a/../b", "//a/../b"},
        {"x", cwd + "/x"},
        // Nothing is resolved or normalised.
        {"../x", cwd + "/../x"},
        {"./a/./b/", cwd + "/./a/./b/"},
        {"", cwd},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE("'" + c.path + "'");
      EXPECT_EQ(c.expected, FileUtils::toAbsolutePath(c.path));
    }
  }
  {
    // The root as current directory gives no doubled slash.
    const ScopedCurrentDir in("/");
    EXPECT_EQ("/x", FileUtils::toAbsolutePath("x"));
    EXPECT_EQ("/", FileUtils::toAbsolutePath(""));
  }
}

TEST(UnixFileUtilsToAbsolutePath, FailsWhenCurrentDirectoryIsTooLong) {
  // The current directory is read into a buffer of 1024 bytes; a longer one
  // must fail with the system's text, not give a cut path.
  const TempDir tmp;
  std::string deep = tmp.path();
  const std::string component(100, 'd');
  while (deep.size() < 1100) {
    deep += "/" + component;
  }
  fs::create_directories(deep);
  const ScopedCurrentDir in(deep);

  for (const std::string path : {"relative", ""}) {
    SCOPED_TRACE("'" + path + "'");
    try {
      FileUtils::toAbsolutePath(path);
      ADD_FAILURE() << "nothing thrown";
    } catch (const QuernErrorBase& e) {
      EXPECT_EQ("getcwd() failed. Error: " + std::string(std::strerror(ERANGE)),
                e.rawMessage());
      const std::string what =
          dynamic_cast<const std::runtime_error&>(e).what();
      EXPECT_EQ(0u, what.rfind("UnixFileUtils.cpp(", 0)) << what;
      EXPECT_NE(std::string::npos,
                what.find(") at toAbsolutePath(): getcwd() failed. Error: "))
          << what;
    }
  }
  // An absolute path needs no current directory.
  EXPECT_EQ("/abs", FileUtils::toAbsolutePath("/abs"));
}

}  // namespace
