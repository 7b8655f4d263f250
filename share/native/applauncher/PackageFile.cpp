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
