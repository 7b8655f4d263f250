#include "FileUtils.h"

#include "tstrings.h"

namespace FileUtils {

const char pathSeparator = ':';

bool isDirSeparator(char c) { return c == '/' || c == '\\'; }

std::string dirname(const std::string& path) {
  std::string::size_type end = path.size();
  // A trailing "/." names the directory itself: search in front of it.
  if (tstrings::endsWith(path, "/.") || tstrings::endsWith(path, "\\.")) {
    end -= 2;
  }
  std::string::size_type pos = end;
  while (pos > 0 && !isDirSeparator(path[pos - 1])) {
    --pos;
  }
  if (pos == 0) {
    return std::string();
  }
  // pos is just after the last separator; step over the whole run.
  --pos;
  while (pos > 0 && isDirSeparator(path[pos - 1])) {
    --pos;
  }
  return path.substr(0, pos);
}

std::string basename(const std::string& path) {
  const std::string::size_type pos = path.find_last_of("/\\");
  if (pos == std::string::npos) {
    return path;
  }
  return path.substr(pos + 1);
}

std::string removeTrailingSlash(const std::string& path) {
  std::string::size_type end = path.size();
  while (end > 0 && isDirSeparator(path[end - 1])) {
    --end;
  }
  return path.substr(0, end);
}

std::string combinePath(const std::string& base, const std::string& tail) {
  if (base.empty()) {
    return tail;
  }
  if (tail.empty()) {
    return base;
  }
  std::string result = removeTrailingSlash(base);
  result += '/';
  if (isDirSeparator(tail[0])) {
    result.append(tail, 1, std::string::npos);
  } else {
    result += tail;
  }
  return result;
}

}  // namespace FileUtils
