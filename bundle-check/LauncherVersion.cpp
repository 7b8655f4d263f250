#include "LauncherVersion.h"

#include <algorithm>
#include <fstream>
#include <vector>

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

std::string launcherVersion(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string data;
  std::vector<char> chunk(chunkSize);
  size_t total = 0;
  // The data kept between chunks is what may still hold the start of a
  // marker; a marker found whole is returned at once.
  while (in && total < maxBytes) {
    in.read(chunk.data(), chunk.size());
    const size_t got = static_cast<size_t>(in.gcount());
    total += got;
    data.append(chunk.data(), got);
    const bool last = got == 0 || !in || total >= maxBytes;
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
  return std::string();
}

}  // namespace bundlecheck
