// The system log, where a failed start leaves its trace when nobody reads
// standard error: an application opened from the Finder or the Dock.
//
// Only the lines a user could see on standard error without diagnostics go
// there. Nothing here is called on a successful start.

#ifndef SYSTEMLOG_H
#define SYSTEMLOG_H

#include <string>

namespace SystemLog {

// Writes `line`, given without its line end, to the system log as an error,
// byte for byte, under the launcher's own file name and its process id.
// Works out that name on the first call only; callable from any thread.
// Never throws; does nothing visible when the system keeps no log.
void error(const std::string& line) noexcept;

// The name the lines are logged under, the application's name; null when
// neither the launcher's path nor argv[0] gives one. Never throws.
const char* applicationName() noexcept;

}  // namespace SystemLog

#endif  // SYSTEMLOG_H
