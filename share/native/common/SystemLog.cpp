// The name a failed start is reported under, shared by the system logs of
// every platform and the error alert.

#include "SystemLog.h"

#include <string.h>

#include "FileUtils.h"
#include "SysInfo.h"

namespace {

// The launcher's own file name, the one it names its configuration after
// and the application's name; the base name of argv[0] when the launcher's
// path cannot be found, since argv[0] is whatever the caller chose; null
// when neither is known. The copy is never freed: the system log may keep
// the pointer, and another pass may still log while the process exits.
const char* findIdentity() noexcept {
  std::string name;
  try {
    name = FileUtils::basename(SysInfo::getProcessModulePath());
  } catch (...) {
    // The failure being reported may be this very query.
  }
  try {
    if (name.empty() && SysInfo::argc > 0 && SysInfo::argv &&
        SysInfo::argv[0]) {
      name = FileUtils::basename(SysInfo::argv[0]);
    }
  } catch (...) {
  }
  return name.empty() ? nullptr : strdup(name.c_str());
}

}  // namespace

namespace SystemLog {

const char* applicationName() noexcept {
  static const char* const identity = findIdentity();
  return identity;
}

}  // namespace SystemLog
