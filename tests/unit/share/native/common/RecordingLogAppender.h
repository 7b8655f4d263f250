// Test support: an appender that keeps every event it receives, and a guard
// that installs an appender on the default logger for one scope.

#ifndef RECORDINGLOGAPPENDER_H
#define RECORDINGLOGAPPENDER_H

#include <string>
#include <utility>
#include <vector>

#include "Log.h"

class RecordingLogAppender : public LogAppender {
 public:
  // `order`, when given, receives `name` for every event, so that tests can
  // see in which order several appenders were called.
  explicit RecordingLogAppender(std::vector<std::string>* order = nullptr,
                                std::string name = std::string())
      : order(order), name(std::move(name)) {}

  void append(const LogEvent& v) override {
    events.push_back(v);
    if (order) {
      order->push_back(name);
    }
  }

  std::vector<LogEvent> events;

 private:
  std::vector<std::string>* order;
  std::string name;
};

// Makes `appender` the default logger's appender and puts the previous one
// back when the scope ends.
class ScopedLogAppender {
 public:
  explicit ScopedLogAppender(LogAppender* appender)
      : saved(Logger::defaultLogger().getAppender()) {
    Logger::defaultLogger().setAppender(appender);
  }
  ~ScopedLogAppender() { Logger::defaultLogger().setAppender(saved); }

  ScopedLogAppender(const ScopedLogAppender&) = delete;
  ScopedLogAppender& operator=(const ScopedLogAppender&) = delete;

 private:
  LogAppender* saved;
};

#endif  // RECORDINGLOGAPPENDER_H
