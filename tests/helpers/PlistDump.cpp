// plist_dump FILE...: the bundle check's reading of each property list, one
// JSON line per file, for tests/helpers/plist-agreement.py to hold against
// Python's plistlib. A value is [type, content]: strings and dates as text,
// integers in decimal text, reals as the hex of their bits ("nan" for any
// NaN), data in hex, arrays as lists, dictionaries as [key, value] pairs in
// file order. A file not read gives {"error": why}.

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "FileReader.h"
#include "PropertyList.h"

namespace {

using bundlecheck::PlistValue;

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    out += digits[(c >> 4) & 0xf];
    out += digits[c & 0xf];
  }
  return out;
}

std::string json(const PlistValue& v) {
  using Type = PlistValue::Type;
  switch (v.type) {
    case Type::String:
      return "[\"string\"," + quoted(v.text) + "]";
    case Type::Integer:
      return "[\"integer\",\"" +
             (v.unsignedAbove ? std::to_string(static_cast<uint64_t>(v.integer))
                              : std::to_string(v.integer)) +
             "\"]";
    case Type::Real: {
      uint64_t bits;
      std::memcpy(&bits, &v.real, 8);
      char text[24];
      snprintf(text, sizeof text, "%016" PRIx64, bits);
      return std::string("[\"real\",\"") + (std::isnan(v.real) ? "nan" : text) +
             "\"]";
    }
    case Type::Boolean:
      return std::string("[\"bool\",") + (v.boolean ? "true" : "false") + "]";
    case Type::Date:
      return "[\"date\"," + quoted(v.text) + "]";
    case Type::Data:
      return "[\"data\",\"" + hex(v.text) + "\"]";
    case Type::Array: {
      std::string out = "[\"array\",[";
      for (size_t i = 0; i != v.array.size(); ++i) {
        out += (i ? "," : "") + json(v.array[i]);
      }
      return out + "]]";
    }
    case Type::Dict:
      break;
  }
  std::string out = "[\"dict\",[";
  for (size_t i = 0; i != v.dict.size(); ++i) {
    out += (i ? ",[" : "[") + quoted(v.dict[i].first) + "," +
           json(v.dict[i].second) + "]";
  }
  return out + "]]";
}

}  // namespace

int main(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    std::string bytes;
    if (!FileReader::readStart(argv[i], 4 << 20, bytes)) {
      std::cerr << "plist_dump: cannot read " << argv[i] << "\n";
      return 2;
    }
    const bundlecheck::PropertyList list =
        bundlecheck::parsePropertyList(bytes);
    std::cout << (list.root ? "{\"format\":" + quoted(list.format) +
                                  ",\"value\":" + json(*list.root) + "}"
                            : "{\"error\":" + quoted(list.error) + "}")
              << "\n";
  }
  return 0;
}
