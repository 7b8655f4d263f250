#include "PackageFile.h"

#include <cstring>
#include <istream>

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

  FileReader file;
  if (!file.open(path)) {
    QUERN_THROW("Error opening \"" << path << "\" file: " << lastCRTError());
  }
  // Nothing else shows that the per-user configuration then goes unused, so
  // the trace says why there is no package.
  std::string packageName;
  if (const std::optional<std::string> line = firstLine(file)) {
    LOG_TRACE("Package name is [" << *line << "]");
    packageName = tstrings::any(*line).str();
  } else if (file.readError() != 0) {
    LOG_TRACE("No package: error reading \""
              << path << "\" file: " << std::strerror(file.readError()));
  }
  return PackageFile(packageName);
}

std::optional<std::string> PackageFile::firstLine(FileReader& file) {
  // A first line that cannot be read whole names no package, as an empty
  // file does (a directory is such a file): a name cut short would point the
  // launcher at another package's configuration.
  std::istream input(&file);
  std::string line;
  if (std::getline(input, line) && file.readError() == 0) {
    return line;
  }
  return std::nullopt;
}
