#include "InfoPlist.h"

#include <sys/stat.h>

#include <string>

#include "FileReader.h"
#include "tstrings.h"

namespace bundlecheck {

namespace {

const std::string::size_type maxPlistSize = 1 << 20;

std::string unescaped(const std::string& text) {
  static const struct {
    const char* entity;
    const char* text;
  } entities[] = {{"&lt;", "<"},
                  {"&gt;", ">"},
                  {"&quot;", "\""},
                  {"&apos;", "'"},
                  {"&amp;", "&"}};
  std::string result = text;
  for (const auto& e : entities) {
    result = tstrings::replace(result, e.entity, e.text);
  }
  return result;
}

// The string value of the first <key>name</key> of the document; an absent
// key or a value that is not a <string> gives nothing.
std::optional<std::string> stringValue(const std::string& xml,
                                       const std::string& name) {
  const std::string keyTag = "<key>" + name + "</key>";
  std::string::size_type pos = xml.find(keyTag);
  if (pos == std::string::npos) {
    return std::nullopt;
  }
  pos = xml.find_first_not_of(" \t\r\n", pos + keyTag.size());
  static const std::string open = "<string>";
  static const std::string close = "</string>";
  if (pos == std::string::npos || xml.compare(pos, open.size(), open) != 0) {
    return std::nullopt;
  }
  pos += open.size();
  const std::string::size_type end = xml.find(close, pos);
  if (end == std::string::npos) {
    return std::nullopt;
  }
  return unescaped(xml.substr(pos, end - pos));
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

InfoPlist parseInfoPlist(const std::string& text) {
  InfoPlist plist;
  if (text.compare(0, 6, "bplist") == 0) {
    plist.format = "binary";
  } else if (text.find("<plist") == std::string::npos) {
    plist.format = "not a property list";
  } else {
    plist.format = "xml";
    plist.bundleExecutable = stringValue(text, "CFBundleExecutable");
    plist.bundlePackageType = stringValue(text, "CFBundlePackageType");
    plist.text = text;
  }
  return plist;
}

}  // namespace bundlecheck
