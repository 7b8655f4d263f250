#include <gtest/gtest.h>

#include <string>

#include "FileUtils.h"

namespace {

TEST(FileUtilsPathParts, DirnameBasenameAndRemoveTrailingSlash) {
  const struct {
    const char* path;
    const char* dirname;
    const char* basename;
    const char* withoutTrailingSlash;
  } cases[] = {
      {"", "", "", ""},
      {"foo", "", "foo", "foo"},
      {"/", "", "", ""},
      {"/foo", "", "foo", "/foo"},
      {"//a", "", "a", "//a"},
      {"/a/b", "/a", "b", "/a/b"},
      {"a//b", "a", "b", "a//b"},
      {"/a/b/", "/a/b", "", "/a/b"},
      {"/a/b/.", "/a", ".", "/a/b/."},
      {"a/.", "", ".", "a/."},
      {"a\\b", "a", "b", "a\\b"},
      {"./x", ".", "x", "./x"},
      // The same rules with the other separator and mixed runs.
      {"\\a\\b\\.", "\\a", ".", "\\a\\b\\."},
      {"/a/\\b\\/", "/a/\\b", "", "/a/\\b"},
      {"\\/\\", "", "", ""},
      {"a/b/..", "a/b", "..", "a/b/.."},
      {"/.", "", ".", "/."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("path '") + c.path + "'");
    EXPECT_EQ(c.dirname, FileUtils::dirname(c.path));
    EXPECT_EQ(c.basename, FileUtils::basename(c.path));
    EXPECT_EQ(c.withoutTrailingSlash, FileUtils::removeTrailingSlash(c.path));
  }
}

TEST(FileUtilsCombinePath, JoinsWithOneSlash) {
  const struct {
    const char* base;
    const char* tail;
    const char* expected;
  } cases[] = {
      {"", "x", "x"},
      {"a", "", "a"},
      {"", "", ""},
      {"a", "b", "a/b"},
      {"a/", "b", "a/b"},
      {"a//", "/b", "a/b"},
      {"a", "//b", "a//b"},
      {"/", "b", "/b"},
      {"///", "x", "/x"},
      {"a\\", "\\b", "a/b"},
      {"a", "/", "a/"},
      // An empty base returns the tail untouched, separators included.
      {"", "/x/", "/x/"},
      {"a/", "", "a/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("'") + c.base + "' + '" + c.tail + "'");
    EXPECT_EQ(c.expected, FileUtils::combinePath(c.base, c.tail));
  }
}

}  // namespace
