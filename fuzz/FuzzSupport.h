// What every fuzz target shares: a silent logger and a check that turns a
// broken invariant into a crash the fuzzing engine records.

#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Log.h"

// The default logger writes every TRACE event to standard output; a run of
// millions of inputs must not.
inline void silenceLogger() {
  static NopLogAppender nop;
  Logger::defaultLogger().setAppender(&nop);
}

[[noreturn]] inline void invariantBroken(const char* file, int line,
                                         const char* condition,
                                         const std::string& detail) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n  %s\n", file, line,
               condition, detail.c_str());
  std::abort();
}

// Checks an invariant; on failure prints it with `detail` (a string
// expression) and aborts.
#define FUZZ_CHECK(condition, detail)                            \
  do {                                                           \
    if (!(condition)) {                                          \
      invariantBroken(__FILE__, __LINE__, #condition, (detail)); \
    }                                                            \
  } while (0)

// A printable rendering of arbitrary bytes for failure details.
inline std::string visible(const std::string& s, size_t limit = 200) {
  std::string out;
  for (size_t i = 0; i != s.size() && i != limit; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
      out += buffer;
    }
  }
  if (s.size() > limit) {
    out += "...";
  }
  return out;
}

#endif  // FUZZSUPPORT_H
