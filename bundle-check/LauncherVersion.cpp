#include "LauncherVersion.h"

#include <algorithm>
#include <cstdint>

#include "VersionMarker.h"

namespace bundlecheck {

const char* const checkVersion = QUERN_VERSION;

namespace {

const std::string prefix = QUERN_VERSION_MARKER_PREFIX;
// Longer runs after the prefix are not a version (a marker is short).
const size_t maxVersionLength = 64;
const size_t chunkSize = 1 << 20;
const size_t maxBytes = size_t(256) << 20;

// The version at `at` in `data` (just after a prefix): printable ASCII
// without spaces up to a NUL byte. Empty when malformed; `complete` false
// when the data ends before the NUL and the run could still be a version.
std::string versionAt(const std::string& data, size_t at, bool& complete) {
  complete = true;
  size_t end = at;
  while (end < data.size() && end - at <= maxVersionLength && data[end] > ' ' &&
         data[end] < 0x7f) {
    ++end;
  }
  if (end == data.size() && end - at <= maxVersionLength) {
    complete = false;
    return std::string();
  }
  if (end == at || end - at > maxVersionLength || data[end] != '\0') {
    return std::string();
  }
  return data.substr(at, end - at);
}

}  // namespace

std::optional<std::string> launcherVersion(FileReader& file) {
  std::string data;
  uint64_t total = 0;
  // The data kept between chunks is what may still hold the start of a
  // marker; a marker found whole is returned at once.
  for (;;) {
    const std::string chunk = file.readAt(total, chunkSize);
    total += chunk.size();
    data += chunk;
    // What came before a failed read is searched too.
    const bool last = chunk.size() < chunkSize || total >= maxBytes;
    size_t keepFrom = data.size() > prefix.size() + maxVersionLength
                          ? data.size() - prefix.size() - maxVersionLength
                          : 0;
    for (size_t at = data.find(prefix); at != std::string::npos;
         at = data.find(prefix, at + 1)) {
      bool complete = true;
      const std::string version = versionAt(data, at + prefix.size(), complete);
      if (!version.empty()) {
        return version;
      }
      if (!complete && !last) {
        keepFrom = std::min(keepFrom, at);
        break;
      }
    }
    if (last) {
      break;
    }
    data.erase(0, keepFrom);
  }
  return file.readError() == 0 ? std::optional<std::string>(std::string())
                               : std::nullopt;
}

std::optional<std::string> launcherVersion(const std::string& path) {
  FileReader file;
  if (!file.open(path)) {
    return std::nullopt;
  }
  return launcherVersion(file);
}

}  // namespace bundlecheck
