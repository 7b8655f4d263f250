#include <gtest/gtest.h>

#include <string>

#include "tstrings.h"

namespace {

using tstrings::EXACT_CASE;
using tstrings::FOLD_CASE;
using tstrings::KEEP_EMPTY;
using tstrings::SKIP_EMPTY;

TEST(TStringsAny, AppendsStringsBytesAndValuesInPlainDecimal) {
  tstrings::any mixed;
  mixed << "line " << 12 << std::string(" of ") << -7 << ':' << 0
        << 4000000000u;
  EXPECT_EQ("line 12 of -7:04000000000", mixed.str());

  // Strings keep embedded NUL bytes, whether appended or given first.
  const std::string withNul("a\0b\0", 4);
  tstrings::any appended;
  appended << withNul << "c";
  EXPECT_EQ(std::string("a\0b\0c", 5), appended.str());
  const tstrings::any constructed(withNul);
  EXPECT_EQ(withNul, constructed.str());

  EXPECT_EQ("", tstrings::any().str());
  EXPECT_EQ("", tstrings::any(static_cast<const char*>(nullptr)).str());
  EXPECT_EQ("start-1", (tstrings::any("start") << -1).str());
}

TEST(TStringsJoin, PutsDelimiterOnlyBetweenElements) {
  const struct {
    StringList items;
    std::string delimiter;
    std::string expected;
  } cases[] = {
      {{}, ":", ""},
      {{"x"}, ":", "x"},
      {{"a", "", "b"}, ":", "a::b"},
      {{"", ""}, ":", ":"},
      {{"a", "b", "c"}, ", ", "a, b, c"},
      {{"a", "b"}, "", "ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(c.expected,
              tstrings::join(c.items.begin(), c.items.end(), c.delimiter));
  }
}

TEST(TStringsCompare, EqualsStartsWithEndsWithUnderBothCompareTypes) {
  const struct {
    std::string s;
    std::string other;
    bool equalsExact, equalsFold;
    bool startsExact, startsFold;
    bool endsExact, endsFold;
  } cases[] = {
      {"ABC", "abc", false, true, false, true, false, true},
      {"abc", "abc", true, true, true, true, true, true},
      {"abc", "", false, false, true, true, true, true},
      {"", "", true, true, true, true, true, true},
      {"ab", "abc", false, false, false, false, false, false},
      {"AB", "abc", false, false, false, false, false, false},
      {"Hello.CFG", "hello", false, false, false, true, false, false},
      {"Hello.CFG", ".cfg", false, false, false, false, false, true},
      {"-psn_0_1", "-psn_", false, false, true, true, false, false},
      {"-PSN_0_1", "-psn_", false, false, false, true, false, false},
      {"abcabc", "abc", false, false, true, true, true, true},
      // Folding touches only ASCII capitals.
      {"\xC4x", "\xE4x", false, false, false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("'" + c.s + "' vs '" + c.other + "'");
    EXPECT_EQ(c.equalsExact, tstrings::equals(c.s, c.other, EXACT_CASE));
    EXPECT_EQ(c.equalsFold, tstrings::equals(c.s, c.other, FOLD_CASE));
    EXPECT_EQ(c.startsExact, tstrings::startsWith(c.s, c.other, EXACT_CASE));
    EXPECT_EQ(c.startsFold, tstrings::startsWith(c.s, c.other, FOLD_CASE));
    EXPECT_EQ(c.endsExact, tstrings::endsWith(c.s, c.other, EXACT_CASE));
    EXPECT_EQ(c.endsFold, tstrings::endsWith(c.s, c.other, FOLD_CASE));
  }
  // Any value other than FOLD_CASE compares exactly.
  EXPECT_FALSE(
      tstrings::equals("A", "a", static_cast<tstrings::CompareType>(2)));
}

TEST(TStringsSplit, AppendsNonOverlappingSegments) {
  const struct {
    std::string s;
    std::string delimiter;
    tstrings::SplitType type;
    StringList expected;
  } cases[] = {
      {"a::b", ":", KEEP_EMPTY, {"a", "", "b"}},
      {":a:", ":", KEEP_EMPTY, {"", "a", ""}},
      {"abc", ":", KEEP_EMPTY, {"abc"}},
      {"", ":", KEEP_EMPTY, {}},
      {"a:b", "", KEEP_EMPTY, {}},
      {":", ":", KEEP_EMPTY, {"", ""}},
      {":::", "::", KEEP_EMPTY, {"", ":"}},
      {"a", "abc", KEEP_EMPTY, {"a"}},
      {"/usr/lib::/opt/lib", "::", KEEP_EMPTY, {"/usr/lib", "/opt/lib"}},
      {"a::b", ":", SKIP_EMPTY, {"a", "b"}},
      {":a:", ":", SKIP_EMPTY, {"a"}},
      {"::", ":", SKIP_EMPTY, {}},
      {"x:yz:", ":", SKIP_EMPTY, {"x", "yz"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("'" + c.s + "' by '" + c.delimiter + "' mode " +
                 std::to_string(c.type));
    StringList out;
    tstrings::split(out, c.s, c.delimiter, c.type);
    EXPECT_EQ(c.expected, out);

    // Earlier elements of the list stay in front.
    StringList appended{"keep", ""};
    tstrings::split(appended, c.s, c.delimiter, c.type);
    StringList expected{"keep", ""};
    expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(expected, appended);
  }
}

TEST(TStringsReplace, ReplacesLeftToRightWithoutRescanningInsertedText) {
  const struct {
    std::string s, search, replacement, expected;
  } cases[] = {
      {"aaa", "aa", "b", "ba"},
      {"x", "x", "xx", "xx"},
      {"abc", "", "z", "abc"},
      {"", "a", "b", ""},
      {"abc", "d", "e", "abc"},
      {"$APPDIR/lib:$APPDIR", "$APPDIR", "/opt/app", "/opt/app/lib:/opt/app"},
      {"abab", "ab", "", ""},
      {"aXbXc", "X", "XX", "aXXbXXc"},
      {"$ROOTDIR", "$ROOT", "$ROOTDIR", "$ROOTDIRDIR"},
      {std::string("a\0b", 3), std::string("\0", 1), "-", "a-b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("'" + c.s + "' '" + c.search + "' -> '" + c.replacement + "'");
    EXPECT_EQ(c.expected, tstrings::replace(c.s, c.search, c.replacement));
  }
}

TEST(TStringsReplace, HandlesMillionsOfOccurrences) {
  // Eight million one-byte occurrences: an implementation that erases and
  // inserts in place moves the tail once per occurrence and does not finish
  // in hours.
  const std::string input(8 * 1024 * 1024, 'a');
  const std::string result = tstrings::replace(input, "a", "bb");
  ASSERT_EQ(2 * input.size(), result.size());
  EXPECT_EQ(std::string::npos, result.find_first_not_of('b'));

  const std::string shrunk = tstrings::replace(input + "c", "aa", "");
  EXPECT_EQ("c", shrunk);
}

TEST(TStringsToLower, ChangesOnlyAsciiCapitals) {
  const std::string upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  EXPECT_EQ("abcdefghijklmnopqrstuvwxyz", tstrings::toLower(upper));
  const std::string others = std::string("09 !@[`{~_-.\t", 13) +
                             std::string("\0\x7F", 2) +
                             "\x80\xC3\x84\xC4\xD6\xFF";
  EXPECT_EQ(others, tstrings::toLower(others));
  EXPECT_EQ("mixed.cfg 123", tstrings::toLower("MiXeD.CFG 123"));
  EXPECT_EQ("", tstrings::toLower(""));
}

}  // namespace
