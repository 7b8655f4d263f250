// The optional ".package" file of the app directory, which names the package
// an application image belongs to. Only its first line counts, byte for
// byte.

#ifndef PACKAGEFILE_H
#define PACKAGEFILE_H

#include <optional>
#include <string>

#include "FileReader.h"

class PackageFile {
 public:
  // A missing or empty file, or one whose first line cannot be read (a
  // directory), gives an empty name; a file that exists but cannot be
  // opened throws.
  static PackageFile loadFromAppDir(const std::string& appDirPath);

  // The first line that `file` reads, when it reads that line whole; no
  // value for an empty file or when a read fails before the line ends.
  static std::optional<std::string> firstLine(FileReader& file);

  const std::string& getPackageName() const { return packageName; }

 private:
  explicit PackageFile(const std::string& packageName)
      : packageName(packageName) {}

  std::string packageName;
};

#endif  // PACKAGEFILE_H
