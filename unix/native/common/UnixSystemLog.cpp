// syslog(3), which macOS and the development host share: on macOS it feeds
// the unified log (Console.app, `log show`); elsewhere it goes wherever the
// host's syslog goes, or nowhere without a syslog daemon.

#include <string.h>
#include <syslog.h>

#include "FileUtils.h"
#include "SysInfo.h"
#include "SystemLog.h"

namespace {

// The launcher's own file name, the one it names its configuration after
// and the application's name; the base name of argv[0] when the launcher's
// path cannot be found, since argv[0] is whatever the caller chose; null
// when neither is known, which lets the C library use the program's name.
// The copy is never freed: openlog keeps the pointer, and another pass may
// still log while the process exits.
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

void error(const std::string& line) noexcept {
  openlog(applicationName(), LOG_PID, LOG_USER);
  // The line is data, never a format: it may hold '%'.
  syslog(LOG_ERR, "%s", line.c_str());
  closelog();
}

}  // namespace SystemLog
