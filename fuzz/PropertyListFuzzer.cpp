// The bundle check's property-list reader on arbitrary bytes, in every
// form (the seeds hold XML, UTF-16 XML and binary lists). What it reads,
// written back as XML, reads again as the same value, so that each form's
// reader is held against the XML one.

#include <cmath>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "PropertyList.h"

namespace {

using bundlecheck::PlistValue;
using Type = PlistValue::Type;

// Whether XML can hold `text`: no control character but tab, LF and CR
// (which XML reads as LF, so it is left out too).
bool xmlHolds(const std::string& text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && c != '\t' && c != '\n') {
      return false;
    }
  }
  return true;
}

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : "";
    if (c != '&' && c != '<' && c != '>') {
      out += c;
    }
  }
  return out;
}

// The value as XML; false when XML cannot hold some of it.
bool writeXml(const PlistValue& v, std::string& out) {
  static const char base64[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  switch (v.type) {
    case Type::String:
      out += "<string>" + escaped(v.text) + "</string>";
      return xmlHolds(v.text);
    case Type::Integer:
      out += "<integer>" +
             (v.unsignedAbove ? std::to_string(static_cast<uint64_t>(v.integer))
                              : std::to_string(v.integer)) +
             "</integer>";
      return true;
    case Type::Real: {
      char text[40];
      snprintf(text, sizeof text, "%.17g", v.real);
      out += std::string("<real>") + text + "</real>";
      return true;
    }
    case Type::Boolean:
      out += v.boolean ? "<true/>" : "<false/>";
      return true;
    case Type::Date:
      out += "<date>" + v.text + "</date>";
      return true;
    case Type::Data:
      out += "<data>";
      for (size_t i = 0; i < v.text.size(); i += 3) {
        uint32_t bits = 0;
        for (size_t k = 0; k != 3; ++k) {
          bits = bits << 8 | (i + k < v.text.size()
                                  ? static_cast<unsigned char>(v.text[i + k])
                                  : 0u);
        }
        for (size_t k = 0; k != 4; ++k) {
          out += k <= v.text.size() - i ? base64[(bits >> (18 - 6 * k)) & 63]
                                        : '=';
        }
      }
      out += "</data>";
      return true;
    case Type::Array:
      out += "<array>";
      for (const PlistValue& item : v.array) {
        if (!writeXml(item, out)) {
          return false;
        }
      }
      out += "</array>";
      return true;
    case Type::Dict:
      break;
  }
  out += "<dict>";
  for (const auto& entry : v.dict) {
    out += "<key>" + escaped(entry.first) + "</key>";
    if (!xmlHolds(entry.first) || !writeXml(entry.second, out)) {
      return false;
    }
  }
  out += "</dict>";
  return true;
}

bool same(const PlistValue& a, const PlistValue& b) {
  if (a.type != b.type || a.text != b.text ||
      a.array.size() != b.array.size() || a.dict.size() != b.dict.size()) {
    return false;
  }
  switch (a.type) {
    case Type::Integer:
      return a.integer == b.integer && a.unsignedAbove == b.unsignedAbove;
    case Type::Real:
      return a.real == b.real || (std::isnan(a.real) && std::isnan(b.real));
    case Type::Boolean:
      return a.boolean == b.boolean;
    case Type::Array:
      for (size_t i = 0; i != a.array.size(); ++i) {
        if (!same(a.array[i], b.array[i])) {
          return false;
        }
      }
      return true;
    case Type::Dict:
      for (size_t i = 0; i != a.dict.size(); ++i) {
        if (a.dict[i].first != b.dict[i].first ||
            !same(a.dict[i].second, b.dict[i].second)) {
          return false;
        }
      }
      return true;
    default:
      return true;  // strings, dates and data: their text is compared
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const bundlecheck::PropertyList list = bundlecheck::parsePropertyList(bytes);
  FUZZ_CHECK(list.root.has_value() == list.error.empty(), visible(bytes));
  FUZZ_CHECK(list.root ? list.format == list.form : list.format.empty(),
             list.format + " " + list.form);
  FUZZ_CHECK((list.line > 0) == (!list.root && list.form == "xml"), list.error);
  std::string xml;
  if (list.root && writeXml(*list.root, xml)) {
    const bundlecheck::PropertyList again = bundlecheck::parsePropertyList(xml);
    FUZZ_CHECK(again.root && same(*list.root, *again.root),
               visible(bytes) + " -> " + visible(xml) + ": " + again.error);
  }
  return 0;
}
