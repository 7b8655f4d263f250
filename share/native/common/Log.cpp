#include "Log.h"

#include <iostream>
#include <sstream>

namespace {

// 0: not started, 1: initialising, 2: done.
int state = 0;

const char* levelName(int level) {
  switch (level) {
    case Logger::TRACE:
      return "TRACE";
    case Logger::INFO:
      return "INFO";
    case Logger::WARNING:
      return "WARNING";
    case Logger::ERROR:
      return "ERROR";
  }
  return "UNKNOWN";
}

std::string baseName(const std::string& path) {
  const std::string::size_type idx = path.find_last_of("\\/");
  if (idx == std::string::npos) {
    return path;
  }
  return path.substr(idx + 1);
}

}  // namespace

LogEvent::LogEvent() : lineNum(0) { init(); }

void StreamLogAppender::append(const LogEvent& v) {
  std::ostringstream buf;
  std::string platform;
  v.appendFormatted(platform);
  buf << "[" << platform << v.fileName << ":" << v.lineNum << " (" << v.funcName
      << ")]" << std::endl
      << "\t" << v.logLevel << ": " << v.message;
  consumer << buf.str() << std::endl;
}

void TeeLogAppender::append(const LogEvent& v) {
  if (first) {
    first->append(v);
  }
  if (second) {
    second->append(v);
  }
}

Logger& Logger::defaultLogger() {
  // Allocated once and never destroyed, so that a second pass of the
  // launcher still running on another thread at exit never logs into a
  // destroyed object.
  static Logger* const theLogger = new Logger(nullptr, TRACE);
  if (!theLogger->appender) {
    static StreamLogAppender* const stdoutAppender =
        new StreamLogAppender(std::cout);
    theLogger->appender = stdoutAppender;
  }
  if (state == 0) {
    state = 1;
    initializeLogging();
    state = 2;
  } else if (state == 1) {
    initializingLogging();
  }
  return *theLogger;
}

bool Logger::isLoggable(LogLevel v) const {
  return static_cast<int>(v) >= static_cast<int>(level);
}

void Logger::log(LogLevel logLevel, const char* file, int line,
                 const char* function, const std::string& message) const {
  LogEvent event;
  event.logLevel = levelName(logLevel);
  event.fileName = baseName(file);
  event.lineNum = line;
  event.funcName = function;
  event.message = message;
  if (appender) {
    appender->append(event);
  }
}

Logger::ScopeTracer::ScopeTracer(Logger& logger, LogLevel level,
                                 const std::string& fileName, int lineNum,
                                 const std::string& funcName,
                                 const std::string& scopeName)
    : log(logger),
      level(level),
      file(fileName),
      line(lineNum),
      func(funcName),
      scope(scopeName),
      needLog(logger.isLoggable(level)) {
  if (needLog && !log.discardsEvents()) {
    log.log(level, file.c_str(), line, func.c_str(), "Entering " + scope);
  }
}

Logger::ScopeTracer::~ScopeTracer() {
  if (needLog && !log.discardsEvents()) {
    log.log(level, file.c_str(), 0, func.c_str(),
            (tstrings::any() << "Exiting " << scope << " (entered at "
                             << baseName(file) << ":" << line << ")")
                .str());
  }
}

WithExtraLogAppender::WithExtraLogAppender(LogAppender& extra)
    : oldAppender(Logger::defaultLogger().getAppender()),
      tee(oldAppender, &extra) {
  Logger::defaultLogger().setAppender(&tee);
}

WithExtraLogAppender::~WithExtraLogAppender() {
  Logger::defaultLogger().setAppender(oldAppender);
}
