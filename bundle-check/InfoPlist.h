// A bundle's Contents/Info.plist as the Mac reads it, in any of the forms
// of a property list, with the keys the check judges: CFBundleExecutable,
// CFBundlePackageType, CFBundleIdentifier, LSMinimumSystemVersion and,
// through `root`, LSEnvironment.

#ifndef BUNDLECHECK_INFOPLIST_H
#define BUNDLECHECK_INFOPLIST_H

#include <optional>
#include <string>
#include <string_view>

#include "PropertyList.h"

namespace bundlecheck {

struct InfoPlist {
  // "xml", "binary" or "old-style" when read. Otherwise why not: "missing",
  // "not a regular file", "larger than 1 MiB" or "unreadable" (a failed
  // read), or, when no form reads the content, "<form>, not read" or "not
  // a property list" with `error` saying why; "old-style, not checked"
  // for the old text form, which the Mac reads and the check does not.
  std::string format;
  std::string error;
  int errorLine = 0;  // the line of `error` in XML; 0 for none
  // A dictionary when read; the Mac ignores a file whose top value is not.
  std::optional<PlistValue> root;
  // String values of the keys; unset when absent or not a string.
  std::optional<std::string> bundleExecutable;
  std::optional<std::string> bundlePackageType;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> minimumSystemVersion;

  // The content was there but no form reads it: the Mac then starts the
  // bundle as one without Info.plist.
  bool unreadable() const { return !error.empty(); }
};

// Never throws; reads at most 1 MiB and never opens a pipe or a device.
InfoPlist readInfoPlist(const std::string& path);

// The same for the file's content.
InfoPlist parseInfoPlist(std::string_view bytes);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_INFOPLIST_H
