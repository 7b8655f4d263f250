// syslog(3) of the Linux development host: the lines go wherever the host's
// syslog goes, or nowhere without a syslog daemon, under the application's
// name (openlog keeps the pointer, which is never freed). macOS has a log of
// its own (macosx/native/common/MacSystemLog.cpp).

#include <syslog.h>

#include "SystemLog.h"

namespace SystemLog {

void error(const std::string& line) noexcept {
  // A null name lets the C library use the program's name.
  openlog(applicationName(), LOG_PID, LOG_USER);
  // The line is data, never a format: it may hold '%'.
  syslog(LOG_ERR, "%s", line.c_str());
  closelog();
}

}  // namespace SystemLog
