#include <gtest/gtest.h>

#include "tstrings.h"

namespace {

TEST(TStringsReplace, ReplacesLeftToRightWithoutRescanningInsertedText) {
  EXPECT_EQ("ba", tstrings::replace("aaa", "aa", "b"));
  EXPECT_EQ("xx", tstrings::replace("x", "x", "xx"));
  EXPECT_EQ("abc", tstrings::replace("abc", "", "z"));
}

}  // namespace
