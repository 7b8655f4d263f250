#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"

namespace FileUtils {

namespace {

std::string currentDirectory() {
  // A fixed buffer: a current directory of 1024 bytes or more fails.
  std::vector<char> buffer(1024, 0);
  if (!getcwd(buffer.data(), buffer.size())) {
    QUERN_THROW_AT("toAbsolutePath",
                   callFailedMessage("getcwd", "", lastCRTError()));
  }
  if (buffer[0] == 0) {
    QUERN_THROW_AT("toAbsolutePath", "getcwd() returned empty string");
  }
  return buffer.data();
}

}  // namespace

bool isFileExists(const std::string& path) {
  // No file name holds a zero byte; the system would only see the part in
  // front of it, which names something else.
  if (path.find('\0') != std::string::npos) {
    return false;
  }
  struct stat buf;
  return stat(path.c_str(), &buf) == 0;
}

bool isSpecialFile(const std::string& path) {
  struct stat buf;
  return path.find('\0') == std::string::npos &&
         stat(path.c_str(), &buf) == 0 && !S_ISREG(buf.st_mode) &&
         !S_ISDIR(buf.st_mode);
}

std::string toAbsolutePath(const std::string& path) {
  if (path.empty()) {
    return currentDirectory();
  }
  if (isDirSeparator(path[0])) {
    return path;
  }
  return combinePath(currentDirectory(), path);
}

// Executables here have no suffix: the whole file name, dots included, names
// the configuration ("My.App" reads "My.App.cfg"), as packagers name it.
std::string stripExeSuffix(const std::string& path) { return path; }

}  // namespace FileUtils
