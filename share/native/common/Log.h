// The process-wide logger and its pluggable sinks.
//
// A call site asks isLoggable() first and only then builds its message;
// LOG_TRACE and friends do both in one line and record the site's own file,
// line and function. The logger never owns its appender and is never
// destroyed. Nothing here is synchronised: the launcher logs from one thread
// at a time.

#ifndef LOG_H
#define LOG_H

#include <ostream>
#include <string>

#include "tstrings.h"

// The platform part of an event: nothing on the hosts this launcher runs on.
class PlatformLogEvent {
 public:
  void appendFormatted(std::string& /*buffer*/) const {}

 protected:
  void init() {}
};

class LogEvent : public PlatformLogEvent {
 public:
  LogEvent();

  std::string logLevel;
  std::string fileName;
  int lineNum;
  std::string funcName;
  std::string message;
};

class LogAppender {
 public:
  virtual ~LogAppender() {}
  virtual void append(const LogEvent& v) = 0;

  // True for an appender that drops every event unread; callers may then
  // skip composing the events they would log.
  virtual bool discardsEvents() const { return false; }
};

// Writes "[<file>:<line> (<function>)]" and, on a second line, a tab and
// "<LEVEL>: <message>", in one write followed by a flush.
class StreamLogAppender : public LogAppender {
 public:
  explicit StreamLogAppender(std::ostream& stream) : consumer(stream) {}
  void append(const LogEvent& v) override;

 private:
  std::ostream& consumer;
};

class NopLogAppender : public LogAppender {
 public:
  void append(const LogEvent&) override {}
  bool discardsEvents() const override { return true; }
};

// Forwards each event to the first appender, then the second; either may be
// null.
class TeeLogAppender : public LogAppender {
 public:
  TeeLogAppender(LogAppender* first, LogAppender* second)
      : first(first), second(second) {}
  void append(const LogEvent& v) override;

 private:
  LogAppender* first;
  LogAppender* second;
};

class Logger {
 public:
  // Backed by int so that any int is a valid level: values outside the four
  // named ones are printed as "UNKNOWN".
  enum LogLevel : int { TRACE, INFO, WARNING, ERROR };

  // The process-wide logger: threshold TRACE, first appender a stream
  // appender on standard output until somebody installs another.
  static Logger& defaultLogger();

  bool isLoggable(LogLevel level) const;

  // Whether an event logged now would reach no output: no appender, or one
  // that drops every event. The launcher's trace messages are composed only
  // when it is false.
  bool discardsEvents() const {
    return !appender || appender->discardsEvents();
  }

  // Emits the event to the current appender; does not consult the threshold.
  // `file` may hold directories: only its base name is kept.
  void log(LogLevel logLevel, const char* file, int line, const char* function,
           const std::string& message) const;

  LogAppender* getAppender() const { return appender; }
  void setAppender(LogAppender* v) { appender = v; }

  // Logs "Entering <name>" when constructed and "Exiting <name> (entered at
  // <file>:<line>)", with line 0, when destroyed; both or neither, decided by
  // the level's loggability at construction.
  class ScopeTracer {
   public:
    ScopeTracer(Logger& logger, LogLevel level, const std::string& fileName,
                int lineNum, const std::string& funcName,
                const std::string& scopeName);
    ~ScopeTracer();

   private:
    ScopeTracer(const ScopeTracer&) = delete;
    ScopeTracer& operator=(const ScopeTracer&) = delete;

    const Logger& log;
    const LogLevel level;
    const std::string file;
    const int line;
    const std::string func;
    const std::string scope;
    const bool needLog;
  };

 private:
  Logger(LogAppender* appender, LogLevel level)
      : level(level), appender(appender) {}

  // Set-up of a platform's log sink before the first event, and the call a
  // re-entrant event makes while it runs; the hosts the launcher runs on log
  // to standard streams that need none, so both are empty.
  static void initializeLogging() {}
  static void initializingLogging() {}

  LogLevel level;
  LogAppender* appender;
};

// Installs a tee of (current appender, extra) on the default logger for its
// lifetime and puts the saved appender back when destroyed. Must be destroyed
// in reverse order of installation and never copied while installed.
class WithExtraLogAppender {
 public:
  explicit WithExtraLogAppender(LogAppender& extra);
  virtual ~WithExtraLogAppender();

 private:
  WithExtraLogAppender(const WithExtraLogAppender&) = delete;
  WithExtraLogAppender& operator=(const WithExtraLogAppender&) = delete;

  LogAppender* oldAppender;
  TeeLogAppender tee;
};

#define QUERN_LOG(lvl, msg)                                              \
  do {                                                                   \
    if (Logger::defaultLogger().isLoggable(lvl) &&                       \
        !Logger::defaultLogger().discardsEvents()) {                     \
      Logger::defaultLogger().log(lvl, __FILE__, __LINE__, __FUNCTION__, \
                                  (tstrings::any() << msg).str());       \
    }                                                                    \
  } while (0)

#define LOG_TRACE(msg) QUERN_LOG(Logger::TRACE, msg)
#define LOG_WARNING(msg) QUERN_LOG(Logger::WARNING, msg)
#define LOG_ERROR(msg) QUERN_LOG(Logger::ERROR, msg)

#endif  // LOG_H
