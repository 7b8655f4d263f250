#include <gtest/gtest.h>

#include "ErrorAlert.h"

namespace {

TEST(ErrorAlertValidUtf8, KeepsUtf8AndReplacesEachMaximalInvalidSequence) {
  const std::string r = "\xef\xbf\xbd";  // U+FFFD
  const std::string valid =
      std::string("%s\0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", 12);
  const std::pair<std::string, std::string> cases[] = {
      {valid + "\xf4\x8f\xbf\xbf", valid + "\xf4\x8f\xbf\xbf"},
      {"caf\xe9", "caf" + r},               // Latin-1
      {"\x80\xc0\xaf\xff", r + r + r + r},  // never valid
      {"\xe0\x80\x80\xed\xa0\x80",
       r + r + r + r + r + r},                   // overlong, surrogate
      {"\xf4\x90\x80\x80", r + r + r + r},       // past U+10FFFF
      {"\xe2\x82x\xf0\x9f\x98", r + "x" + r},    // cut short
      {"\xf0\x9f\x98\xc3\xa9", r + "\xc3\xa9"},  // cut by a lead
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.first));
    EXPECT_EQ(c.second, ErrorAlert::validUtf8(c.first));
  }
}

}  // namespace
