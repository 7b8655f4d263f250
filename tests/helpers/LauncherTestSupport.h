// What the unit tests of the launcher's own code share: a log appender that
// records events, and the reading of launch-data blocks.

#ifndef LAUNCHERTESTSUPPORT_H
#define LAUNCHERTESTSUPPORT_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Log.h"
#include "ZvmLauncher.h"

namespace testsupport {

// Keeps every event it receives. It installs itself nowhere; see
// ScopedLogAppender.
class RecordingLogAppender : public LogAppender {
 public:
  // `order`, when given, receives `name` for every event, so that tests can
  // see in which order several appenders were called.
  explicit RecordingLogAppender(std::vector<std::string>* order = nullptr,
                                std::string name = std::string());

  void append(const LogEvent& v) override;

  // The events of one level, in order.
  std::vector<LogEvent> at(const std::string& level) const;

  std::vector<LogEvent> events;

 private:
  std::vector<std::string>* order;
  std::string name;
};

// Makes `appender` the default logger's appender and puts the previous one
// back when the scope ends.
class ScopedLogAppender {
 public:
  explicit ScopedLogAppender(LogAppender* appender);
  ~ScopedLogAppender();
  ScopedLogAppender(const ScopedLogAppender&) = delete;
  ScopedLogAppender& operator=(const ScopedLogAppender&) = delete;

 private:
  LogAppender* saved;
};

struct LaunchDataDeleter {
  void operator()(ZvmlLauncherData* block) const { std::free(block); }
};
typedef std::unique_ptr<ZvmlLauncherData, LaunchDataDeleter> LaunchData;

// The block that launch() would hand to the runtime for `zvm`, or null when
// it cannot be made; its size is stored through `size` when that is given.
LaunchData makeLaunchData(const Zvm& zvm, int32_t* size = nullptr);

// The block is packed, so that its pointer arrays are usually not aligned:
// every read goes through memcpy.
template <class T>
T readAt(const void* base, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const char*>(base) + offset, sizeof value);
  return value;
}

// The pointer stored `offset` bytes into `base`.
inline const char* pointerAt(const void* base, size_t offset) {
  return readAt<const char*>(base, offset);
}

// Entry `index` of a pointer array.
inline const char* entryAt(const void* array, size_t index) {
  return pointerAt(array, index * sizeof(char*));
}

}  // namespace testsupport

#endif  // LAUNCHERTESTSUPPORT_H
