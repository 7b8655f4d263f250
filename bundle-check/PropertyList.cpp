#include "PropertyList.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace bundlecheck {

namespace {

// Deeper nesting than any real list has; it bounds the recursion of every
// form's reader.
const int maxDepth = 256;

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

// UTF-16 code units (big- or little-endian) as UTF-8; false for an odd
// length or a surrogate without its pair.
bool utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& out) {
  if (bytes.size() % 2 != 0) {
    return false;
  }
  const auto unit = [&](size_t i) -> uint32_t {
    const auto hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
    const auto lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
    return hi << 8 | lo;
  };
  for (size_t i = 0; i < bytes.size(); i += 2) {
    uint32_t c = unit(i);
    if (c >= 0xd800 && c < 0xdc00) {
      const uint32_t low = i + 2 < bytes.size() ? unit(i + 2) : 0;
      if (low < 0xdc00 || low >= 0xe000) {
        return false;
      }
      c = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
      i += 2;
    } else if (c >= 0xdc00 && c < 0xe000) {
      return false;
    }
    appendUtf8(out, c);
  }
  return true;
}

// Where `s` stops being UTF-8 (overlong forms, surrogates and code points
// above U+10FFFF refused); npos when all of it is.
size_t invalidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    uint32_t c = 0;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xc2 && b < 0xe0) {
      n = 1, c = b & 0x1f;
    } else if (b >= 0xe0 && b < 0xf0) {
      n = 2, c = b & 0x0f;
    } else if (b >= 0xf0 && b < 0xf5) {
      n = 3, c = b & 0x07;
    } else {
      return i;
    }
    if (i + n >= s.size()) {
      return i;
    }
    for (size_t k = 1; k <= n; ++k) {
      const auto next = static_cast<unsigned char>(s[i + k]);
      if ((next & 0xc0) != 0x80) {
        return i;
      }
      c = c << 6 | (next & 0x3f);
    }
    if ((n == 2 && (c < 0x800 || (c >= 0xd800 && c < 0xe000))) ||
        (n == 3 && (c < 0x10000 || c > 0x10ffff))) {
      return i;
    }
    i += n + 1;
  }
  return std::string_view::npos;
}

// Keys of one dictionary as it is built: a repeated key keeps its first
// place and takes the last value.
class DictBuilder {
 public:
  explicit DictBuilder(PlistValue& dict) : dict(dict) {
    dict.type = PlistValue::Type::Dict;
  }
  void add(std::string key, PlistValue value) {
    const auto found = index.find(key);
    if (found != index.end()) {
      dict.dict[found->second].second = std::move(value);
      return;
    }
    index.emplace(key, dict.dict.size());
    dict.dict.emplace_back(std::move(key), std::move(value));
  }

 private:
  PlistValue& dict;
  std::map<std::string, size_t> index;
};

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

const int64_t epoch2001 = daysFromCivil(2001, 1, 1) * 86400;

// "YYYY-MM-DDTHH:MM:SSZ" for whole seconds since 2001; false for a date
// outside the years 1 to 9999.
bool dateText(double seconds, std::string& text) {
  if (!(seconds >= -63113904000.0 && seconds < 252423993600.0)) {
    return false;
  }
  const int64_t t = static_cast<int64_t>(std::floor(seconds)) + epoch2001;
  int64_t days = t / 86400, rest = t % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // The civil date of a day count, the inverse of daysFromCivil.
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
  char buffer[32];
  snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ",
           static_cast<int>(y), m, d, static_cast<int>(rest / 3600),
           static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  text = buffer;
  return true;
}

bool isXmlBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmedXml(std::string_view s) {
  while (!s.empty() && isXmlBlank(s.front())) {
    s.remove_prefix(1);
  }
  while (!s.empty() && isXmlBlank(s.back())) {
    s.remove_suffix(1);
  }
  return s;
}

// An <integer>: decimal, or hexadecimal after "0x", with an optional sign;
// from INT64_MIN to UINT64_MAX.
bool parseInteger(std::string_view s, PlistValue& v) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  unsigned base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) {
    return false;
  }
  uint64_t value = 0;
  for (const char c : s) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    if (value > (UINT64_MAX - digit) / base) {
      return false;
    }
    value = value * base + digit;
  }
  v.type = PlistValue::Type::Integer;
  if (negative) {
    if (value > uint64_t(1) << 63) {
      return false;
    }
    v.integer = static_cast<int64_t>(0 - value);
  } else {
    v.integer = static_cast<int64_t>(value);
    v.unsignedAbove = value > uint64_t(INT64_MAX);
  }
  return true;
}

bool parseReal(std::string_view s, PlistValue& v) {
  const std::string text(s);
  char* end = nullptr;
  v.type = PlistValue::Type::Real;
  v.real = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size() &&
         !isXmlBlank(text[0]);
}

// A <date>: "YYYY-MM-DDTHH:MM:SSZ", or the same cut short after any field
// but the year ("2024-05Z"), in UTC.
bool parseDate(std::string_view s, PlistValue& v) {
  int field[6] = {0, 1, 1, 0, 0, 0};
  const int width[6] = {4, 2, 2, 2, 2, 2};
  const char before[6] = {0, '-', '-', 'T', ':', ':'};
  size_t at = 0;
  for (int f = 0; f < 6; ++f) {
    if (f > 0) {
      if (at < s.size() && s[at] == 'Z') {
        break;
      }
      if (at >= s.size() || s[at] != before[f]) {
        return false;
      }
      ++at;
    }
    int value = 0;
    for (int k = 0; k < width[f]; ++k, ++at) {
      if (at >= s.size() || s[at] < '0' || s[at] > '9') {
        return false;
      }
      value = value * 10 + (s[at] - '0');
    }
    field[f] = value;
  }
  if (at + 1 != s.size() || s[at] != 'Z') {
    return false;
  }
  static const int monthDays[] = {31, 29, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  const int y = field[0], m = field[1], d = field[2];
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > monthDays[m - 1] ||
      (m == 2 && d == 29 && !leap) || field[3] > 23 || field[4] > 59 ||
      field[5] > 59) {
    return false;
  }
  v.type = PlistValue::Type::Date;
  v.real = static_cast<double>(
      daysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) *
          86400 +
      field[3] * 3600 + field[4] * 60 + field[5] - epoch2001);
  return dateText(v.real, v.text);
}

// Base64 as the Mac decodes it: characters outside the alphabet are
// skipped, and "=" ends the data.
void decodeBase64(std::string_view s, std::string& out) {
  uint32_t bits = 0;
  int count = 0;
  for (const char c : s) {
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else if (c == '=') {
      break;
    } else {
      continue;
    }
    bits = bits << 6 | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xff);
    }
  }
}

// The XML form, as a Mac's parser reads it: well-formed XML only, which is
// what plistlib and every XML tool also demand.
class XmlReader {
 public:
  explicit XmlReader(std::string_view text) : s(text) {}

  bool read(PlistValue& root) {
    const size_t bad = invalidUtf8(s);
    for (size_t i = 0; i < s.size() && i < bad; ++i) {
      const auto c = static_cast<unsigned char>(s[i]);
      if (c < 0x20 && !isXmlBlank(s[i])) {
        pos = i;
        return fail("a control character (byte " + std::to_string(c) +
                    "), which XML does not allow");
      }
    }
    if (bad != std::string_view::npos) {
      pos = bad;
      return fail("bytes that are not UTF-8");
    }
    skipBlanks();
    // A declaration stands first; blanks before it are taken as the Mac
    // takes them.
    if (at("<?xml") && pos + 5 < s.size() && isXmlBlank(s[pos + 5])) {
      if (!skipInstruction(true)) {
        return false;
      }
    }
    if (!skipMisc(true)) {
      return false;
    }
    std::string name;
    bool empty = false;
    if (!readTag(name, empty)) {
      return false;
    }
    if (name == "plist") {
      if (empty || !skipMisc(false)) {
        return empty ? fail("<plist> holds no value") : false;
      }
      if (at("</")) {
        return fail("<plist> holds no value");
      }
      if (!readTag(name, empty) || !readValue(name, empty, root, 1) ||
          !skipMisc(false) || !readClose("plist")) {
        return false;
      }
    } else if (!readValue(name, empty, root, 1)) {
      return false;
    }
    if (!skipMisc(false)) {
      return false;
    }
    return pos == s.size() || fail("text after the property list");
  }

  // The line where read() failed.
  int line() const {
    int line = 1;
    for (size_t i = 0; i < errorAt && i < s.size(); ++i) {
      if (s[i] == '\n' ||
          (s[i] == '\r' && (i + 1 == s.size() || s[i + 1] != '\n'))) {
        ++line;
      }
    }
    return line;
  }

  const std::string& error() const { return problem; }

 private:
  std::string_view s;
  size_t pos = 0;
  size_t errorAt = 0;
  std::string problem;

  bool fail(const std::string& what) {
    if (problem.empty()) {
      problem = what;
      errorAt = pos;
    }
    return false;
  }

  bool at(std::string_view text) const {
    return s.substr(pos, text.size()) == text;
  }

  void skipBlanks() {
    while (pos < s.size() && isXmlBlank(s[pos])) {
      ++pos;
    }
  }

  bool skipComment() {
    const size_t dashes = s.find("--", pos + 4);
    if (dashes == std::string_view::npos) {
      return fail("a comment that is not closed");
    }
    if (dashes + 2 >= s.size() || s[dashes + 2] != '>') {
      pos = dashes;
      return fail("\"--\" inside a comment");
    }
    pos = dashes + 3;
    return true;
  }

  bool skipInstruction(bool declaration) {
    const size_t end = s.find("?>", pos + 2);
    if (end == std::string_view::npos) {
      return fail("a processing instruction that is not closed");
    }
    std::string target(s.substr(pos + 2, 3));
    for (char& c : target) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (!declaration && target == "xml" &&
        (isXmlBlank(s[pos + 5]) || s[pos + 5] == '?')) {
      return fail("an XML declaration that is not at the start");
    }
    pos = end + 2;
    return true;
  }

  bool skipDoctype() {
    char quote = 0;
    int brackets = 0;
    for (size_t i = pos + 9; i < s.size(); ++i) {
      const char c = s[i];
      if (quote) {
        quote = c == quote ? 0 : quote;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '[') {
        ++brackets;
      } else if (c == ']') {
        --brackets;
      } else if (c == '>' && brackets <= 0) {
        pos = i + 1;
        return true;
      }
    }
    return fail("a DOCTYPE that is not closed");
  }

  // Blanks, comments and processing instructions; before the root element
  // also the document type, once.
  bool skipMisc(bool doctypeAllowed) {
    for (;;) {
      skipBlanks();
      if (at("<!--")) {
        if (!skipComment()) {
          return false;
        }
      } else if (at("<?")) {
        if (!skipInstruction(false)) {
          return false;
        }
      } else if (at("<!DOCTYPE")) {
        if (!doctypeAllowed) {
          return fail("a DOCTYPE where none may stand");
        }
        doctypeAllowed = false;
        if (!skipDoctype()) {
          return false;
        }
      } else {
        return true;
      }
    }
  }

  static bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ':' ||
           c == '.' || (c & 0x80);
  }

  std::string_view readName() {
    const size_t start = pos;
    while (pos < s.size() && isNameChar(s[pos])) {
      ++pos;
    }
    return s.substr(start, pos - start);
  }

  // A start tag at pos, attributes checked and skipped.
  bool readTag(std::string& name, bool& empty) {
    if (pos >= s.size()) {
      return fail("the file ends where an element belongs");
    }
    if (s[pos] != '<' || at("</") || at("<!")) {
      return fail(s[pos] == '<' ? "markup where an element belongs"
                                : "text where an element belongs");
    }
    ++pos;
    name = std::string(readName());
    if (name.empty()) {
      return fail("'<' that starts no element (write &lt; for '<')");
    }
    for (;;) {
      const size_t before = pos;
      skipBlanks();
      if (at("/>") || at(">")) {
        empty = at("/>");
        pos += empty ? 2 : 1;
        return true;
      }
      if (pos >= s.size()) {
        return fail("the file ends inside the tag <" + name + ">");
      }
      if (pos == before || readName().empty()) {
        return fail("a broken attribute in the tag <" + name + ">");
      }
      skipBlanks();
      if (!at("=")) {
        return fail("an attribute without a value in <" + name + ">");
      }
      ++pos;
      skipBlanks();
      const char quote = pos < s.size() ? s[pos] : 0;
      const size_t end =
          quote == '"' || quote == '\'' ? s.find(quote, pos + 1) : pos;
      if (end == pos || end == std::string_view::npos ||
          s.substr(pos, end - pos).find('<') != std::string_view::npos) {
        return fail("an attribute value that is not quoted in <" + name + ">");
      }
      pos = end + 1;
    }
  }

  bool readClose(const std::string& name) {
    skipBlanks();
    if (!at("</")) {
      return fail("no </" + name + "> where <" + name + "> ends");
    }
    pos += 2;
    const std::string_view closed = readName();
    skipBlanks();
    if (closed != name || !at(">")) {
      return fail("</" + std::string(closed) + "> closes <" + name + ">");
    }
    ++pos;
    return true;
  }

  bool readEntity(std::string& out) {
    // No entity or reference of a valid character is longer.
    const size_t semicolon = s.substr(0, pos + 12).find(';', pos);
    const size_t length =
        semicolon == std::string_view::npos ? 0 : semicolon - pos - 1;
    const std::string_view name = s.substr(pos + 1, length);
    static const struct {
      const char* name;
      char c;
    } named[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& entity : named) {
      if (semicolon != std::string_view::npos && name == entity.name) {
        out += entity.c;
        pos = semicolon + 1;
        return true;
      }
    }
    if (semicolon != std::string_view::npos && name.size() >= 2 &&
        name.size() <= 9 && name[0] == '#') {
      const bool hex = name[1] == 'x';
      const std::string digits(name.substr(hex ? 2 : 1));
      char* end = nullptr;
      const unsigned long c = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
      const bool allDigits =
          !digits.empty() && end == digits.c_str() + digits.size() &&
          std::all_of(digits.begin(), digits.end(), [&](char d) {
            return hex ? std::isxdigit(static_cast<unsigned char>(d)) != 0
                       : (d >= '0' && d <= '9');
          });
      if (allDigits &&
          (c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c < 0xd800) ||
           (c >= 0xe000 && c < 0xfffe) || (c >= 0x10000 && c <= 0x10ffff))) {
        appendUtf8(out, static_cast<uint32_t>(c));
        pos = semicolon + 1;
        return true;
      }
      return fail("&" + std::string(name) + "; names no character XML allows");
    }
    if (length > 0 && length <= 32 && isNameChar(name[0])) {
      return fail("an unknown entity &" + std::string(name) + ";");
    }
    return fail("'&' that begins no entity (write &amp; for '&')");
  }

  // The text content of <name>, up to and with its end tag: entities and
  // character references decoded, CDATA taken as written, comments
  // dropped, line ends made LF.
  bool readText(const std::string& name, std::string& out) {
    for (;;) {
      if (pos >= s.size()) {
        return fail("the file ends inside <" + name + ">");
      }
      const char c = s[pos];
      if (c == '<') {
        if (at("<![CDATA[")) {
          const size_t end = s.find("]]>", pos + 9);
          if (end == std::string_view::npos) {
            return fail("a CDATA section that is not closed");
          }
          appendLines(s.substr(pos + 9, end - pos - 9), out);
          pos = end + 3;
        } else if (at("<!--")) {
          if (!skipComment()) {
            return false;
          }
        } else if (at("<?")) {
          if (!skipInstruction(false)) {
            return false;
          }
        } else if (at("</")) {
          return readClose(name);
        } else {
          return fail("an element inside <" + name + ">");
        }
      } else if (c == '&') {
        if (!readEntity(out)) {
          return false;
        }
      } else {
        const size_t end = std::min(s.find_first_of("<&", pos), s.size());
        const std::string_view chunk = s.substr(pos, end - pos);
        const size_t cdataEnd = chunk.find("]]>");
        if (cdataEnd != std::string_view::npos) {
          pos += cdataEnd;
          return fail("\"]]>\" outside a CDATA section");
        }
        appendLines(chunk, out);
        pos = end;
      }
    }
  }

  // XML reads a CR-LF or a lone CR as LF.
  static void appendLines(std::string_view text, std::string& out) {
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\r') {
        out += text[i];
      } else {
        out += '\n';
        if (i + 1 < text.size() && text[i + 1] == '\n') {
          ++i;
        }
      }
    }
  }

  bool readScalar(const std::string& name, bool empty, std::string& text) {
    text.clear();
    return empty || readText(name, text);
  }

  bool readValue(const std::string& name, bool empty, PlistValue& v,
                 int depth) {
    using Type = PlistValue::Type;
    if (depth > maxDepth) {
      return fail("values nested more than " + std::to_string(maxDepth) +
                  " deep");
    }
    const size_t start = pos;
    std::string text;
    if (name == "dict") {
      DictBuilder dict(v);
      while (!empty) {
        if (!skipMisc(false)) {
          return false;
        }
        if (at("</")) {
          return readClose("dict");
        }
        std::string key, valueName;
        bool keyEmpty = false, valueEmpty = false;
        if (!readTag(key, keyEmpty)) {
          return false;
        }
        if (key != "key") {
          return fail("a <" + key + "> where a <key> belongs");
        }
        if (!readScalar("key", keyEmpty, key) || !skipMisc(false)) {
          return false;
        }
        if (at("</")) {
          return fail("the key \"" + key + "\" has no value");
        }
        PlistValue value;
        if (!readTag(valueName, valueEmpty) ||
            !readValue(valueName, valueEmpty, value, depth + 1)) {
          return false;
        }
        dict.add(std::move(key), std::move(value));
      }
      return true;
    }
    if (name == "array") {
      v.type = Type::Array;
      while (!empty) {
        if (!skipMisc(false)) {
          return false;
        }
        if (at("</")) {
          return readClose("array");
        }
        std::string valueName;
        bool valueEmpty = false;
        v.array.emplace_back();
        if (!readTag(valueName, valueEmpty) ||
            !readValue(valueName, valueEmpty, v.array.back(), depth + 1)) {
          return false;
        }
      }
      return true;
    }
    if (name == "string") {
      v.type = Type::String;
      return readScalar(name, empty, v.text);
    }
    if (name == "true" || name == "false") {
      v.type = Type::Boolean;
      v.boolean = name == "true";
      return readScalar(name, empty, text) &&
             (trimmedXml(text).empty() || fail("text inside <" + name + ">"));
    }
    if (name == "data") {
      v.type = Type::Data;
      if (!readScalar(name, empty, text)) {
        return false;
      }
      decodeBase64(text, v.text);
      return true;
    }
    const bool known = name == "integer" || name == "real" || name == "date";
    if (!known) {
      pos = start;
      return fail(name == "key"     ? "a <key> outside a <dict>"
                  : name == "plist" ? "a <plist> inside the property list"
                                    : "an unknown element <" + name + ">");
    }
    if (!readScalar(name, empty, text)) {
      return false;
    }
    const std::string_view value = trimmedXml(text);
    const bool ok = name == "integer" ? parseInteger(value, v)
                    : name == "real"  ? parseReal(value, v)
                                      : parseDate(value, v);
    if (!ok) {
      pos = start;
      return fail("<" + name + "> holds \"" + std::string(value.substr(0, 40)) +
                  "\", which is no " + name);
    }
    return true;
  }
};

// The binary form, bplist00: a header, the objects, a table of their
// offsets and a 32-byte trailer.
class BinaryReader {
 public:
  explicit BinaryReader(std::string_view bytes) : s(bytes) {}

  bool read(PlistValue& root) {
    if (s.size() < 8 + 32 + 1) {
      return fail("too short for a binary property list");
    }
    const size_t trailer = s.size() - 32;
    offsetSize = byte(trailer + 6);
    refSize = byte(trailer + 7);
    const uint64_t count = number(trailer + 8, 8);
    const uint64_t top = number(trailer + 16, 8);
    tableAt = number(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8) {
      return fail("its last 32 bytes are no trailer (is the file cut short?)");
    }
    if (count == 0 || top >= count) {
      return fail("the trailer names no top object among its objects");
    }
    if (tableAt < 9 || tableAt > trailer ||
        count > (trailer - tableAt) / offsetSize) {
      return fail("the offset table lies outside the file");
    }
    if (refSize < 8 && count > uint64_t(1) << (8 * refSize)) {
      return fail("more objects than its references can reach");
    }
    offsets.resize(count);
    for (uint64_t i = 0; i != count; ++i) {
      offsets[i] = number(tableAt + i * offsetSize, offsetSize);
      if (offsets[i] < 8 || offsets[i] >= tableAt) {
        return fail("object " + std::to_string(i) +
                    " lies outside the object area");
      }
    }
    if (!checkOverlaps()) {
      return false;
    }
    // Shared objects are read again where each reference stands; this
    // budget keeps a file of references to references from growing
    // without bound.
    budget = 8 * s.size() + 4096;
    state.assign(count, 0);
    return readObject(top, root, 1);
  }

  std::string error;

 private:
  std::string_view s;
  unsigned offsetSize = 0, refSize = 0;
  uint64_t tableAt = 0;
  std::vector<uint64_t> offsets;
  std::vector<char> state;  // 1 while an object's contents are read
  uint64_t budget = 0;

  bool fail(const std::string& what) {
    if (error.empty()) {
      error = what;
    }
    return false;
  }

  unsigned byte(uint64_t at) const { return static_cast<unsigned char>(s[at]); }

  uint64_t number(uint64_t at, unsigned size) const {
    uint64_t value = 0;
    for (unsigned k = 0; k != size; ++k) {
      value = value << 8 | byte(at + k);
    }
    return value;
  }

  // The object at `at`: its marker, where its contents start and how many
  // items or bytes the marker counts; false when the count cannot be read.
  bool header(uint64_t at, unsigned& marker, uint64_t& body,
              uint64_t& count) const {
    marker = byte(at);
    count = marker & 0xf;
    body = at + 1;
    const unsigned type = marker >> 4;
    if (count == 0xf && type >= 4 && type != 8) {
      if (body >= tableAt || (byte(body) >> 4) != 1 || (byte(body) & 0xf) > 3) {
        return false;
      }
      const unsigned size = 1u << (byte(body) & 0xf);
      if (body + 1 + size > tableAt) {
        return false;
      }
      count = number(body + 1, size);
      body += 1 + size;
    }
    return true;
  }

  // Bytes the object at `at` takes, or 0 when it cannot fit before the
  // offset table.
  uint64_t extent(uint64_t at) const {
    unsigned marker;
    uint64_t body, count;
    if (!header(at, marker, body, count)) {
      return 0;
    }
    const uint64_t room = tableAt - body;
    uint64_t size;
    switch (marker >> 4) {
      case 0x0:
        size = 0;
        break;
      case 0x1:
      case 0x2:
        size = count > 4 ? room + 1 : uint64_t(1) << count;
        break;
      case 0x3:
        size = 8;
        break;
      case 0x4:
      case 0x5:
        size = count;
        break;
      case 0x6:
        size = count > room / 2 ? room + 1 : count * 2;
        break;
      case 0x8:
        size = count + 1;
        break;
      case 0xa:
      case 0xc:
        size = count > room / refSize ? room + 1 : count * refSize;
        break;
      case 0xd:
        size = count > room / refSize / 2 ? room + 1 : count * refSize * 2;
        break;
      default:
        size = 0;
    }
    return size > room ? 0 : body + size - at;
  }

  bool checkOverlaps() {
    std::vector<std::pair<uint64_t, uint64_t>> spans;  // offset, object
    spans.reserve(offsets.size());
    for (uint64_t i = 0; i != offsets.size(); ++i) {
      spans.emplace_back(offsets[i], i);
    }
    std::sort(spans.begin(), spans.end());
    for (size_t k = 0; k != spans.size(); ++k) {
      const uint64_t size = extent(spans[k].first);
      if (size == 0) {
        return fail("object " + std::to_string(spans[k].second) +
                    " runs past the object area");
      }
      if (k + 1 != spans.size() && spans[k].first + size > spans[k + 1].first) {
        return fail("objects " + std::to_string(spans[k].second) + " and " +
                    std::to_string(spans[k + 1].second) + " overlap");
      }
    }
    return true;
  }

  bool spend(uint64_t amount) {
    if (amount > budget) {
      return fail("shared objects expand to more than " +
                  std::to_string(8 * s.size() + 4096) + " bytes");
    }
    budget -= amount;
    return true;
  }

  bool readString(uint64_t ref, std::string& out) {
    const unsigned type =
        ref < offsets.size() ? byte(offsets[ref]) >> 4 : unsigned(5);
    if (type != 5 && type != 6) {
      return fail("a dictionary key that is not a string");
    }
    PlistValue key;
    if (!readObject(ref, key, 1)) {
      return false;
    }
    out = std::move(key.text);
    return true;
  }

  bool readObject(uint64_t ref, PlistValue& v, int depth) {
    using Type = PlistValue::Type;
    if (ref >= offsets.size()) {
      return fail("a reference to object " + std::to_string(ref) + " of " +
                  std::to_string(offsets.size()));
    }
    if (depth > maxDepth) {
      return fail("objects nested more than " + std::to_string(maxDepth) +
                  " deep");
    }
    if (state[ref]) {
      return fail("object " + std::to_string(ref) + " contains itself");
    }
    unsigned marker;
    uint64_t body, count;
    header(offsets[ref], marker, body, count);
    if (!spend(64 + count)) {
      return false;
    }
    const std::string where = "object " + std::to_string(ref);
    switch (marker >> 4) {
      case 0x0:
        if (marker == 0x08 || marker == 0x09) {
          v.type = Type::Boolean;
          v.boolean = marker == 0x09;
          return true;
        }
        return fail(where +
                    " is a null or fill byte, which no property "
                    "list holds");
      case 0x1:
        return readInteger(body, count, v, where);
      case 0x2:
        v.type = Type::Real;
        if (count == 2) {
          const auto bits = static_cast<uint32_t>(number(body, 4));
          float f;
          std::memcpy(&f, &bits, 4);
          v.real = f;
          return true;
        }
        if (count == 3) {
          const uint64_t bits = number(body, 8);
          std::memcpy(&v.real, &bits, 8);
          return true;
        }
        return fail(where + " is a real of " +
                    std::to_string(uint64_t(1) << count) + " bytes");
      case 0x3: {
        if (marker != 0x33) {
          break;
        }
        const uint64_t bits = number(body, 8);
        v.type = Type::Date;
        std::memcpy(&v.real, &bits, 8);
        return dateText(v.real, v.text) ||
               fail(where + " is a date outside the years 1 to 9999");
      }
      case 0x4:
        v.type = Type::Data;
        v.text = std::string(s.substr(body, count));
        return true;
      case 0x5:
        v.type = Type::String;
        v.text = std::string(s.substr(body, count));
        return std::all_of(v.text.begin(), v.text.end(),
                           [](char c) { return (c & 0x80) == 0; }) ||
               fail(where + " is an ASCII string with bytes above 127");
      case 0x6:
        v.type = Type::String;
        return utf16ToUtf8(s.substr(body, count * 2), true, v.text) ||
               fail(where + " is a UTF-16 string with a broken surrogate");
      case 0x8:
        // A keyed archive's UID, shown as the XML form writes it.
        v.type = Type::Dict;
        v.dict.emplace_back("CF$UID", PlistValue());
        v.dict[0].second.type = Type::Integer;
        v.dict[0].second.integer =
            static_cast<int64_t>(number(body, count + 1));
        return count < 8 || fail(where + " is a UID of more than 8 bytes");
      case 0xa:
      case 0xc: {
        v.type = Type::Array;
        v.array.resize(count);
        state[ref] = 1;
        for (uint64_t i = 0; i != count; ++i) {
          if (!readObject(number(body + i * refSize, refSize), v.array[i],
                          depth + 1)) {
            return false;
          }
        }
        state[ref] = 0;
        return true;
      }
      case 0xd: {
        DictBuilder dict(v);
        state[ref] = 1;
        for (uint64_t i = 0; i != count; ++i) {
          std::string key;
          PlistValue value;
          if (!readString(number(body + i * refSize, refSize), key) ||
              !readObject(number(body + (count + i) * refSize, refSize), value,
                          depth + 1)) {
            return false;
          }
          dict.add(std::move(key), std::move(value));
        }
        state[ref] = 0;
        return true;
      }
      default:
        break;
    }
    return fail(where + " has the unknown marker " + std::to_string(marker));
  }

  bool readInteger(uint64_t body, uint64_t sizeLog, PlistValue& v,
                   const std::string& where) {
    v.type = PlistValue::Type::Integer;
    if (sizeLog < 3) {
      v.integer = static_cast<int64_t>(number(body, 1u << sizeLog));
      return true;
    }
    if (sizeLog == 3) {
      v.integer = static_cast<int64_t>(number(body, 8));
      return true;
    }
    if (sizeLog == 4) {
      // 128 bits: what fits in 64 is read, an unsigned value above
      // INT64_MAX included.
      const uint64_t high = number(body, 8), low = number(body + 8, 8);
      v.integer = static_cast<int64_t>(low);
      if (high == 0) {
        v.unsignedAbove = low > uint64_t(INT64_MAX);
        return true;
      }
      if (high == UINT64_MAX && low > uint64_t(INT64_MAX)) {
        return true;
      }
      return fail(where + " is an integer beyond 64 bits");
    }
    return fail(where + " is an integer of " +
                std::to_string(uint64_t(1) << std::min<uint64_t>(sizeLog, 63)) +
                " bytes");
  }
};

// The old-style text form: strings, data in <hex>, arrays in ( , ) and
// dictionaries in { key = value; }, with C comments; a top level of
// "key = value;" pairs without braces is a dictionary too, as in strings
// files. Everything that is not data is a string.
class OldStyleReader {
 public:
  explicit OldStyleReader(std::string_view text) : s(text) {}

  bool read(PlistValue& root) {
    const size_t bad = invalidUtf8(s);
    if (bad != std::string_view::npos) {
      pos = bad;
      return fail("bytes that are not UTF-8");
    }
    skip();
    const size_t start = pos;
    if (pos < s.size() && s[pos] != '{' && s[pos] != '(' && s[pos] != '<') {
      std::string key;
      if (readString(key) && (skip(), at('='))) {
        pos = start;
        return readPairs(root, 0, '\0') && (skip(), pos == s.size());
      }
      pos = start;
      error.clear();
    }
    return readValue(root, 1) &&
           (skip(), pos == s.size() || fail("text after the value"));
  }

  std::string error;

 private:
  std::string_view s;
  size_t pos = 0;

  bool fail(const std::string& what) {
    if (error.empty()) {
      const auto lines = std::count(s.begin(), s.begin() + pos, '\n');
      error = "line " + std::to_string(lines + 1) + ": " + what;
    }
    return false;
  }

  bool at(char c) const { return pos < s.size() && s[pos] == c; }

  void skip() {
    while (pos < s.size()) {
      if (isXmlBlank(s[pos]) || s[pos] == '\f' || s[pos] == '\v') {
        ++pos;
      } else if (s.substr(pos, 2) == "//") {
        pos = std::min(s.find('\n', pos), s.size());
      } else if (s.substr(pos, 2) == "/*") {
        const size_t end = s.find("*/", pos + 2);
        pos = end == std::string_view::npos ? s.size() : end + 2;
      } else {
        return;
      }
    }
  }

  // Up to four hex digits after "\\U".
  uint32_t hexUnit() {
    uint32_t code = 0;
    for (int k = 0; k != 4 && pos < s.size() &&
                    std::isxdigit(static_cast<unsigned char>(s[pos]));
         ++k) {
      const char d = s[pos++];
      code = code * 16 +
             static_cast<uint32_t>(d <= '9' ? d - '0' : (d | 0x20) - 'a' + 10);
    }
    return code;
  }

  static bool isBare(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::strchr("_$+/:.-", c) != nullptr;
  }

  bool readString(std::string& out) {
    if (at('"') || at('\'')) {
      const char quote = s[pos++];
      while (pos < s.size() && s[pos] != quote) {
        if (s[pos] != '\\') {
          out += s[pos++];
          continue;
        }
        if (++pos >= s.size()) {
          break;
        }
        const char c = s[pos++];
        const char* const from = "abfnrtv";
        const char* const to = "\a\b\f\n\r\t\v";
        const char* named = std::strchr(from, c);
        if (named && c) {
          out += to[named - from];
        } else if (c == 'U') {
          uint32_t code = hexUnit();
          // A pair of surrogates, each escaped, is one character.
          if (code >= 0xd800 && code < 0xdc00 && s.substr(pos, 2) == "\\U") {
            pos += 2;
            const uint32_t low = hexUnit();
            code = low >= 0xdc00 && low < 0xe000
                       ? 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00)
                       : code;
          }
          if (code >= 0xd800 && code < 0xe000) {
            return fail("an escaped surrogate without its pair");
          }
          appendUtf8(out, code);
        } else if (c >= '0' && c <= '7') {
          // Octal escapes stand for bytes of the NeXTSTEP character set;
          // only its ASCII half is read here.
          unsigned code = static_cast<unsigned>(c - '0');
          for (int k = 0;
               k != 2 && pos < s.size() && s[pos] >= '0' && s[pos] <= '7';
               ++k) {
            code = code * 8 + static_cast<unsigned>(s[pos++] - '0');
          }
          if (code > 0x7f) {
            return fail("an octal escape above 127");
          }
          out += static_cast<char>(code);
        } else {
          out += c;
        }
      }
      if (pos >= s.size()) {
        return fail("a quoted string that is not closed");
      }
      ++pos;
      return true;
    }
    const size_t start = pos;
    while (pos < s.size() && isBare(s[pos])) {
      ++pos;
    }
    out = std::string(s.substr(start, pos - start));
    return pos > start || fail("no value");
  }

  // "key = value;" pairs up to `close` ('\0': the end of the text).
  bool readPairs(PlistValue& v, int depth, char close) {
    DictBuilder dict(v);
    for (;;) {
      skip();
      if (close ? at(close) : pos == s.size()) {
        pos += close ? 1 : 0;
        return true;
      }
      std::string key;
      PlistValue value;
      if (!readString(key)) {
        return false;
      }
      skip();
      if (!at('=')) {
        return fail("a key without '='");
      }
      ++pos;
      skip();
      if (!readValue(value, depth + 1)) {
        return false;
      }
      skip();
      if (!at(';')) {
        return fail("a value without ';'");
      }
      ++pos;
      dict.add(std::move(key), std::move(value));
    }
  }

  bool readValue(PlistValue& v, int depth) {
    if (depth > maxDepth) {
      return fail("values nested more than " + std::to_string(maxDepth) +
                  " deep");
    }
    skip();
    if (at('{')) {
      ++pos;
      return readPairs(v, depth, '}');
    }
    if (at('(')) {
      ++pos;
      v.type = PlistValue::Type::Array;
      for (skip(); !at(')'); skip()) {
        v.array.emplace_back();
        if (!readValue(v.array.back(), depth + 1)) {
          return false;
        }
        skip();
        if (at(',')) {
          ++pos;
        } else if (!at(')')) {
          return fail("an array item without ',' or ')'");
        }
      }
      ++pos;
      return true;
    }
    if (at('<')) {
      v.type = PlistValue::Type::Data;
      std::string digits;
      for (++pos; pos < s.size() && s[pos] != '>'; ++pos) {
        if (std::isxdigit(static_cast<unsigned char>(s[pos]))) {
          digits += s[pos];
        } else if (!isXmlBlank(s[pos])) {
          return fail("a character in data that is no hex digit");
        }
      }
      if (pos >= s.size() || digits.size() % 2 != 0) {
        return fail("data that is not closed or has an odd digit");
      }
      ++pos;
      for (size_t i = 0; i < digits.size(); i += 2) {
        v.text +=
            static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
      }
      return true;
    }
    v.type = PlistValue::Type::String;
    return readString(v.text);
  }
};

// Reads the root value with `reader`, which sets its `error` when it fails.
template <typename Reader>
void readWith(Reader& reader, PropertyList& list) {
  PlistValue root;
  if (reader.read(root)) {
    list.root = std::move(root);
    list.format = list.form;
  } else {
    list.error = reader.error;
  }
}

}  // namespace

const PlistValue* PlistValue::find(const std::string& key) const {
  if (type != Type::Dict) {
    return nullptr;
  }
  for (const auto& entry : dict) {
    if (entry.first == key) {
      return &entry.second;
    }
  }
  return nullptr;
}

const std::string* PlistValue::string(const std::string& key) const {
  const PlistValue* value = find(key);
  return value && value->type == Type::String ? &value->text : nullptr;
}

PropertyList parsePropertyList(std::string_view bytes) {
  PropertyList list;
  if (bytes.substr(0, 6) == "bplist") {
    list.form = "binary";
    if (bytes.substr(0, 8) != "bplist00") {
      list.error = "a binary property list of version \"" +
                   std::string(bytes.substr(6, 2)) + "\", not \"00\"";
      return list;
    }
    BinaryReader reader(bytes);
    readWith(reader, list);
    return list;
  }
  std::string converted;
  if (bytes.substr(0, 2) == "\xfe\xff" || bytes.substr(0, 2) == "\xff\xfe") {
    if (!utf16ToUtf8(bytes.substr(2), bytes[0] == '\xfe', converted)) {
      list.error = "broken UTF-16 text";
      return list;
    }
    bytes = converted;
  } else if (bytes.substr(0, 3) == "\xef\xbb\xbf") {
    bytes.remove_prefix(3);
  }
  const size_t first = bytes.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    list.error = "an empty file";
    return list;
  }
  if (bytes[first] == '<') {
    list.form = "xml";
    XmlReader reader(bytes);
    PlistValue root;
    if (reader.read(root)) {
      list.root = std::move(root);
      list.format = list.form;
    } else {
      list.line = reader.line();
      list.error = "line " + std::to_string(list.line) + ": " + reader.error();
    }
    return list;
  }
  if (std::strchr("{(\"'/", bytes[first]) ||
      std::isalpha(static_cast<unsigned char>(bytes[first]))) {
    list.form = "old-style";
    OldStyleReader reader(bytes);
    readWith(reader, list);
    return list;
  }
  list.error = "not a property list";
  return list;
}

}  // namespace bundlecheck
