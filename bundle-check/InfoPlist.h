// The two keys of a bundle's Contents/Info.plist that decide whether the
// system starts the launcher as the application: CFBundleExecutable and
// CFBundlePackageType. Only XML property lists, which packaging tools
// write, are read; other formats are recognised and named, not read.

#ifndef BUNDLECHECK_INFOPLIST_H
#define BUNDLECHECK_INFOPLIST_H

#include <optional>
#include <string>

namespace bundlecheck {

struct InfoPlist {
  // "xml" when read; otherwise why not: "missing", "not a regular file",
  // "larger than 1 MiB", "unreadable", "binary", "not a property list".
  std::string format;
  std::optional<std::string> bundleExecutable;
  std::optional<std::string> bundlePackageType;
  std::string text;  // the document, when "xml"
};

// Never throws; reads at most 1 MiB and never opens a pipe or a device.
InfoPlist readInfoPlist(const std::string& path);

// The same for the file's content: "xml", "binary" or "not a property
// list".
InfoPlist parseInfoPlist(const std::string& text);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_INFOPLIST_H
