#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>

#include "ErrorHandling.h"
#include "SysInfo.h"
#include "helpers/TestSupport.h"

namespace {

TEST(UnixSysInfo, EnvVariableSetEmptyOrUnset) {
  struct Case {
    const char* name;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"set", std::string("a value=with = signs")},
      {"set to the empty string", std::string()},
      {"unset", std::nullopt},
  };
  const std::string name = "QUERN_H3_SYSINFO";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::ScopedEnv env(name, c.value);

    EXPECT_EQ(c.value.value_or("fallback"),
              SysInfo::getEnvVariable(std::nothrow, name, "fallback"));
    if (c.value) {
      EXPECT_EQ(*c.value, SysInfo::getEnvVariable(name));
      continue;
    }
    try {
      SysInfo::getEnvVariable(name);
      ADD_FAILURE() << "no failure";
    } catch (const QuernError<std::runtime_error>& e) {
      EXPECT_STREQ("getenv(QUERN_H3_SYSINFO) failed. Variable not set",
                   e.rawMessage());
      EXPECT_NE(std::string::npos,
                std::string(e.what()).find(" at getEnvVariable(): getenv("));
    }
  }
}

}  // namespace
