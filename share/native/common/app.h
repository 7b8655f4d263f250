// The frame in which every pass of the launcher does its work: it switches
// diagnostics on or off, runs the work function, catches and reports every
// exception and turns the outcome into the exit status.

#ifndef APP_H
#define APP_H

#include <functional>
#include <new>
#include <string>

class LogAppender;

namespace app {

typedef std::function<void()> LauncherFunc;

// True exactly when QUERN_DEBUG is set to "true": case-sensitive, untrimmed.
bool isWithLogging();

// Runs `func` and returns 0 when it returned, 1 when it threw; never throws.
// A failure's bare text always reaches standard error through the extra
// appender; a null `lastErrorLogAppender` means the built-in one that prints
// it and also writes it to the system log.
int launch(const std::nothrow_t&, LauncherFunc func,
           LogAppender* lastErrorLogAppender = nullptr);

// The bare error text that launch() is reporting, as the built-in extra
// appender prints it; for an extra appender of one's own. Empty outside
// launch()'s report of a failure.
std::string lastErrorMessage();

}  // namespace app

#endif  // APP_H
