// The property-list reader of the bundle check: Info.plist, entitlements
// and sealed-resource lists read as a Mac reads them, in each of its forms:
// XML, binary (bplist00) and the old-style text form. Every reader runs in
// time linear in its input and bounds its nesting, so a hostile file costs
// no more than a plain one of the same size. Thread-safe: no state is kept.

#ifndef BUNDLECHECK_PROPERTYLIST_H
#define BUNDLECHECK_PROPERTYLIST_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bundlecheck {

struct PlistValue {
  enum class Type { String, Integer, Real, Boolean, Date, Data, Array, Dict };
  Type type = Type::String;
  // String: UTF-8; Data: the raw bytes; Date: "YYYY-MM-DDTHH:MM:SSZ" (UTC,
  // whole seconds).
  std::string text;
  // Integer: the value; with `unsignedAbove` set, the value is
  // static_cast<uint64_t>(integer), which lies above INT64_MAX.
  int64_t integer = 0;
  bool unsignedAbove = false;
  // Real: the value; Date: seconds since 2001-01-01 00:00:00 UTC.
  double real = 0;
  bool boolean = false;
  std::vector<PlistValue> array;
  // In file order, each key once: a repeated key keeps its first place and
  // takes the last value, as the Mac's dictionaries do.
  std::vector<std::pair<std::string, PlistValue>> dict;

  // Dict only: the value of `key`; nullptr if absent or not a dict.
  const PlistValue* find(const std::string& key) const;
  // The String value of `key`; nullptr if absent or not a string.
  const std::string* string(const std::string& key) const;
};

struct PropertyList {
  // "xml", "binary" or "old-style" when read; "" when no form reads it.
  std::string format;
  // The form the bytes look like, read or not: one of the above, or "" for
  // bytes that look like none.
  std::string form;
  std::optional<PlistValue> root;  // set when read
  // Why it was not read; an XML error names the line: "line 12: ...".
  std::string error;
  int line = 0;  // that line; 0 for the other forms
};

// Never throws for what `bytes` hold. UTF-16 XML (with its byte-order
// mark) is read as well as UTF-8.
PropertyList parsePropertyList(std::string_view bytes);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_PROPERTYLIST_H
