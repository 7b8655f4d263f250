// The alert a user sees when an application started from the Finder or the
// Dock fails: a stop alert naming the application, holding the one error
// line, with one button, "OK".
//
// It is the packager's choice, per bundle, and off unless chosen: the
// launcher has no window of its own, and callers that start it unattended
// rely on that. It adds to the error line on standard error and in the
// system log, never replaces it. The system's notification functions are
// looked up at the moment of failure, so the launcher gains no link
// dependency and a successful start never opens their library. Either pass
// of the launcher may call these, on its own thread.

#ifndef ERRORALERT_H
#define ERRORALERT_H

#include <string>

namespace ErrorAlert {

// How long the alert waits for the user before it goes away by itself, so
// that a start nobody watches cannot hang.
constexpr double timeoutSeconds = 120;
static_assert(timeoutSeconds > 0 && timeoutSeconds <= 300,
              "the alert must go away by itself within five minutes");

// True exactly when QUERN_ERROR_ALERT is "true": case-sensitive, untrimmed,
// as QUERN_DEBUG.
bool isWanted();

// Shows the alert and waits until the user answers it or the time-out ends.
// `appName` is the header, `line` the message; bytes that are not UTF-8 are
// shown as replacement characters. Returns an empty string when the alert
// was shown, else why not (the library or a function of it missing, a call
// failing). Never throws.
std::string show(const std::string& appName, const std::string& line) noexcept;

// `text` with each maximal byte sequence that is not UTF-8 replaced by
// U+FFFD; valid UTF-8 (a NUL included) is kept as it is.
std::string validUtf8(const std::string& text);

// The library that holds the notification functions: the system framework
// on macOS, a library found by the normal search elsewhere. Defined once
// per platform.
const char* frameworkPath();

}  // namespace ErrorAlert

#endif  // ERRORALERT_H
