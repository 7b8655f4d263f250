// The optional ".package" file of the app directory, which names the package
// an application image belongs to. Only its first line counts, byte for
// byte.

#ifndef PACKAGEFILE_H
#define PACKAGEFILE_H

#include <string>

class PackageFile {
 public:
  // A missing or empty file, or one whose first line cannot be read (a
  // directory), gives an empty name; a file that exists but cannot be
  // opened throws.
  static PackageFile loadFromAppDir(const std::string& appDirPath);

  const std::string& getPackageName() const { return packageName; }

 private:
  explicit PackageFile(const std::string& packageName)
      : packageName(packageName) {}

  std::string packageName;
};

#endif  // PACKAGEFILE_H
