#include "InfoPlist.h"

#include <sys/stat.h>

#include <string>

#include "FileReader.h"

namespace bundlecheck {

namespace {

const std::string::size_type maxPlistSize = 1 << 20;

std::optional<std::string> stringOf(const PlistValue& root,
                                    const std::string& key) {
  const std::string* value = root.string(key);
  return value ? std::optional<std::string>(*value) : std::nullopt;
}

}  // namespace

InfoPlist readInfoPlist(const std::string& path) {
  InfoPlist plist;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    plist.format = "missing";
    return plist;
  }
  if (!S_ISREG(st.st_mode)) {
    plist.format = "not a regular file";
    return plist;
  }
  if (static_cast<unsigned long long>(st.st_size) > maxPlistSize) {
    plist.format = "larger than 1 MiB";
    return plist;
  }
  std::string text;
  if (!FileReader::readStart(path, maxPlistSize, text)) {
    plist.format = "unreadable";
    return plist;
  }
  return parseInfoPlist(text);
}

InfoPlist parseInfoPlist(std::string_view bytes) {
  InfoPlist plist;
  PropertyList list = parsePropertyList(bytes);
  if (list.form == "old-style" && !list.root) {
    plist.format = "old-style, not checked";
    return plist;
  }
  if (!list.root) {
    plist.format =
        list.form.empty() ? "not a property list" : list.form + ", not read";
    plist.error = list.error;
    plist.errorLine = list.line;
    return plist;
  }
  plist.format = list.format;
  if (list.root->type != PlistValue::Type::Dict) {
    plist.format += ", not read";
    plist.error = "it holds no dictionary at its top";
    return plist;
  }
  const PlistValue& root = *list.root;
  plist.bundleExecutable = stringOf(root, "CFBundleExecutable");
  plist.bundlePackageType = stringOf(root, "CFBundlePackageType");
  plist.bundleIdentifier = stringOf(root, "CFBundleIdentifier");
  plist.minimumSystemVersion = stringOf(root, "LSMinimumSystemVersion");
  plist.root = std::move(list.root);
  return plist;
}

}  // namespace bundlecheck
