#include "helpers/LauncherTestSupport.h"

#include <utility>

namespace testsupport {

RecordingLogAppender::RecordingLogAppender(std::vector<std::string>* order,
                                           std::string name)
    : order(order), name(std::move(name)) {}

void RecordingLogAppender::append(const LogEvent& v) {
  events.push_back(v);
  if (order) {
    order->push_back(name);
  }
}

std::vector<LogEvent> RecordingLogAppender::at(const std::string& level) const {
  std::vector<LogEvent> result;
  for (const LogEvent& e : events) {
    if (e.logLevel == level) {
      result.push_back(e);
    }
  }
  return result;
}

ScopedLogAppender::ScopedLogAppender(LogAppender* appender)
    : saved(Logger::defaultLogger().getAppender()) {
  Logger::defaultLogger().setAppender(appender);
}

ScopedLogAppender::~ScopedLogAppender() {
  Logger::defaultLogger().setAppender(saved);
}

LaunchData makeLaunchData(const Zvm& zvm, int32_t* size) {
  return LaunchData(zvmLauncherCreateZvmlLauncherData(
      getZvmlLauncherCallbacks(), zvm.exportLauncher(), size));
}

}  // namespace testsupport
