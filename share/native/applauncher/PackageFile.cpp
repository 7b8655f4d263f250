#include "PackageFile.h"

#include <fstream>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"

PackageFile PackageFile::loadFromAppDir(const std::string& appDirPath) {
  const std::string path = FileUtils::combinePath(appDirPath, ".package");
  if (!FileUtils::isFileExists(path)) {
    return PackageFile(std::string());
  }

  LOG_TRACE("Read \"" << path << "\" package file");

  // Opening a named pipe could wait for ever, and a device may never end.
  if (FileUtils::isSpecialFile(path)) {
    QUERN_THROW("Error opening \"" << path << "\" file: Not a regular file");
  }

  std::ifstream input(path.c_str());
  if (!input.good()) {
    QUERN_THROW("Error opening \"" << path << "\" file: " << lastCRTError());
  }

  std::string line;
  std::string packageName;
  if (std::getline(input, line)) {
    LOG_TRACE("Package name is [" << line << "]");
    packageName = tstrings::any(line).str();
  }
  return PackageFile(packageName);
}
