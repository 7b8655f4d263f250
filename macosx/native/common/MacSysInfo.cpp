#include <mach-o/dyld.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "SysInfo.h"

namespace SysInfo {

int argc = 0;
char** argv = nullptr;

StringList getCommandArgs(CommandArgProgramNameMode mode) {
  const int first = mode == WithoutProgramName ? 1 : 0;
  return launcherArgs(first < argc ? StringList(argv + first, argv + argc)
                                   : StringList());
}

StringList launcherArgs(const StringList& args) {
  StringList result;
  for (const std::string& arg : args) {
    // The system may add a process serial number argument when the
    // application is opened from the desktop; it is never the user's.
    if (!tstrings::startsWith(arg, "-psn_")) {
      result.push_back(arg);
    }
  }
  return result;
}

std::string getRealPath(const std::vector<char>& in) {
  const std::string path(in.data(),
                         in.empty() ? 0 : ::strnlen(in.data(), in.size()));

  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    QUERN_THROW(callFailedMessage("lstat", path, lastCRTError()));
  }
  if (!S_ISLNK(st.st_mode)) {
    return path;
  }

  // Read the whole target however long it is: grow the buffer until
  // readlink leaves room to spare.
  std::vector<char> buffer(st.st_size > 0 ? st.st_size + 1 : 1024, 0);
  ssize_t n;
  for (;;) {
    n = readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) {
      QUERN_THROW(callFailedMessage("readlink", path, lastCRTError()));
    }
    if (static_cast<size_t>(n) < buffer.size()) {
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  std::string target(buffer.data(), static_cast<size_t>(n));

  // A relative target is relative to the directory that holds the link, not
  // to the current directory.
  if (!target.empty() && !FileUtils::isDirSeparator(target[0])) {
    std::string::size_type pos = path.size();
    while (pos > 0 && !FileUtils::isDirSeparator(path[pos - 1])) {
      --pos;
    }
    target.insert(0, path, 0, pos);
  }
  return target;
}

std::string getProcessModulePath() {
  std::vector<char> buffer;
  uint32_t size = 0;
  for (;;) {
    const int status =
        _NSGetExecutablePath(buffer.empty() ? nullptr : buffer.data(), &size);
    if (status == 0) {
      break;
    }
    if (status > 0 || size <= buffer.size()) {
      QUERN_THROW("_NSGetExecutablePath() failed");
    }
    buffer.assign(size, 0);
  }
  return FileUtils::toAbsolutePath(getRealPath(buffer));
}

}  // namespace SysInfo
