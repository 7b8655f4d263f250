#include "ErrorAlertSetting.h"

#include "Names.h"

namespace bundlecheck {

namespace {

const char* const variable = "QUERN_ERROR_ALERT";

// One element of the property list: its name, its content and where it
// ends. Nested elements are skipped whole; text is taken as written.
struct Element {
  std::string name;
  std::string content;
  size_t end = std::string::npos;
};

size_t skipSpace(const std::string& xml, size_t pos) {
  while ((pos = xml.find_first_not_of(" \t\r\n", pos)) != std::string::npos &&
         xml.compare(pos, 4, "<!--") == 0) {
    const size_t close = xml.find("-->", pos);
    pos = close == std::string::npos ? close : close + 3;
  }
  return pos;
}

bool opensElement(const std::string& xml, size_t pos, const std::string& tag) {
  return xml.compare(pos, tag.size(), tag) == 0 &&
         std::string(" \t\r\n/>").find(xml[pos + tag.size()]) !=
             std::string::npos;
}

// The element that starts at `pos`; no name when there is none there.
Element readElement(const std::string& xml, size_t pos) {
  Element e;
  // A closing tag, a comment or a declaration starts no element.
  if (pos + 1 >= xml.size() || xml[pos] != '<' ||
      std::string("/!?").find(xml[pos + 1]) != std::string::npos) {
    return e;
  }
  const size_t tagEnd = xml.find('>', pos);
  if (tagEnd == std::string::npos) {
    return e;
  }
  const std::string name =
      xml.substr(pos + 1, xml.find_first_of(" \t\r\n/>", pos + 1) - pos - 1);
  if (xml[tagEnd - 1] == '/') {
    e.name = name;
    e.end = tagEnd + 1;
    return e;
  }
  int depth = 1;
  for (size_t at = tagEnd + 1; (at = xml.find('<', at)) != std::string::npos;
       ++at) {
    if (opensElement(xml, at, "</" + name) && --depth == 0) {
      e.name = name;
      e.content = xml.substr(tagEnd + 1, at - tagEnd - 1);
      e.end = xml.find('>', at);
      e.end = e.end == std::string::npos ? xml.size() : e.end + 1;
      return e;
    }
    const size_t close = xml.find('>', at);
    if (opensElement(xml, at, "<" + name) && close != std::string::npos &&
        xml[close - 1] != '/') {
      ++depth;
    }
  }
  return e;
}

}  // namespace

void checkErrorAlert(const std::string& xml, Report& report) {
  report.errorAlert = false;
  auto add = [&](Code code, const std::string& message) {
    report.findings.push_back(Finding{code, report.infoPlistPath, 0, message});
  };
  const std::string envKey = "<key>LSEnvironment</key>";
  const size_t pos = xml.find(envKey);
  if (pos == std::string::npos) {
    return;
  }
  const Element env = readElement(xml, skipSpace(xml, pos + envKey.size()));
  if (env.name != "dict") {
    add(Code::PlistEnvironment,
        (env.name.empty()
             ? std::string("LSEnvironment has no <dict>")
             : "LSEnvironment is a <" + env.name + ">, not a <dict>") +
            "; the system sets none of its variables");
    return;
  }
  for (size_t at = skipSpace(env.content, 0); at < env.content.size();) {
    const Element key = readElement(env.content, at);
    if (key.name.empty()) {
      break;
    }
    const Element value =
        readElement(env.content, skipSpace(env.content, key.end));
    if (key.name == "key" && key.content == variable) {
      report.errorAlert = value.name == "string" && value.content == "true";
      if (value.name == "string" && !*report.errorAlert) {
        add(Code::PlistErrorAlert,
            std::string("LSEnvironment sets ") + variable + " to " +
                inQuotes(value.content) +
                "; only \"true\" switches the error alert on");
      } else if (value.name != "string") {
        add(Code::PlistErrorAlert,
            std::string("LSEnvironment sets ") + variable + " to " +
                (value.name.empty() ? "nothing" : "a <" + value.name + ">") +
                ", not a <string>; only the string \"true\" switches the "
                "error alert on");
      }
    }
    at = skipSpace(env.content, key.name == "key" && !value.name.empty()
                                    ? value.end
                                    : key.end);
  }
}

}  // namespace bundlecheck
