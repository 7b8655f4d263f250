#include <gtest/gtest.h>

#include "ErrorAlert.h"

namespace {

TEST(ErrorAlertValidUtf8, KeepsUtf8AndReplacesEachMaximalInvalidSequence) {
  const std::string r = "\xef\xbf\xbd";  // U+FFFD
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"", ""},
      {"plain %s%n", "plain %s%n"},
      {std::string("nul\0in", 6), std::string("nul\0in", 6)},
      {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf",
       "\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf"},
      {"caf\xe9", "caf" + r},                    // Latin-1
      {"\x80\xbf", r + r},                       // lone continuations
      {"\xc0\x80\xc1\xbf", r + r + r + r},       // overlong leads
      {"\xe0\x80\x80", r + r + r},               // overlong
      {"\xed\xa0\x80", r + r + r},               // surrogate
      {"\xf4\x90\x80\x80", r + r + r + r},       // past U+10FFFF
      {"\xf5\xff\xfe", r + r + r},               // never in UTF-8
      {"\xe2\x82x\xf0\x9f\x98", r + "x" + r},    // cut short
      {"\xf0\x9f\x98\xc3\xa9", r + "\xc3\xa9"},  // cut by a lead
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    EXPECT_EQ(c.out, ErrorAlert::validUtf8(c.in));
  }
}

}  // namespace
