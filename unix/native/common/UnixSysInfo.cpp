#include <cstdlib>

#include "ErrorHandling.h"
#include "SysInfo.h"

namespace SysInfo {

std::string getEnvVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (!value) {
    QUERN_THROW("getenv(" << name << ") failed. Variable not set");
  }
  return value;
}

std::string getEnvVariable(const std::nothrow_t&, const std::string& name,
                           const std::string& defValue) {
  const char* value = std::getenv(name.c_str());
  if (!value) {
    return defValue;
  }
  return value;
}

}  // namespace SysInfo
