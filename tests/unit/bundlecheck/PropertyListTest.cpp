// The property-list reader on what plistlib never writes: the corners of
// XML a hand or another tool writes, and damaged or hostile binary lists.
// Agreement on ordinary lists is tests/helpers/plist-agreement.py's.

#include <gtest/gtest.h>

#include "PropertyList.h"

namespace {

using bundlecheck::parsePropertyList;
using bundlecheck::PlistValue;
using bundlecheck::PropertyList;

// A value in one line: strings quoted, dictionaries {k=v,...}, arrays
// [a,...], integers, reals, true/false, dates and data as d:... and x:hex.
std::string shown(const PlistValue& v) {
  using Type = PlistValue::Type;
  std::string out;
  switch (v.type) {
    case Type::String:
      return "\"" + v.text + "\"";
    case Type::Integer:
      return v.unsignedAbove ? std::to_string(static_cast<uint64_t>(v.integer))
                             : std::to_string(v.integer);
    case Type::Real:
      return std::to_string(v.real);
    case Type::Boolean:
      return v.boolean ? "true" : "false";
    case Type::Date:
      return "d:" + v.text;
    case Type::Data:
      for (const char c : v.text) {
        out += "0123456789abcdef"[(c >> 4) & 0xf];
        out += "0123456789abcdef"[c & 0xf];
      }
      return "x:" + out;
    case Type::Array:
      for (const PlistValue& item : v.array) {
        out += (out.empty() ? "" : ",") + shown(item);
      }
      return "[" + out + "]";
    case Type::Dict:
      break;
  }
  for (const auto& entry : v.dict) {
    out += (out.empty() ? "" : ",") + entry.first + "=" + shown(entry.second);
  }
  return "{" + out + "}";
}

// The value, or "! error".
std::string read(const std::string& bytes) {
  const PropertyList list = parsePropertyList(bytes);
  return list.root ? shown(*list.root) : "! " + list.error;
}

TEST(PropertyList, XmlAsTheMacReadsIt) {
  const std::string decl = "\xef\xbb\xbf<?xml version=\"1.0\"?>\n";
  const std::string doctype =
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"x.dtd\" "
      "[<!ENTITY e \">\">]>";
  const struct {
    std::string xml, value;
  } rows[] = {
      {decl + "<!-- a -->" + doctype +
           "<?pi?><plist version='1.0'><dict><!-- b --><key>k</key><!-- c "
           "--><string>v</string></dict></plist><!-- d -->\n",
       "{k=\"v\"}"},
      {"<plist><array><string>&lt;&#x41;&#66;&amp;&quot;&apos;&gt;</string>"
       "<string>a<![CDATA[<&]]>b<!--x-->c</string><string/><key/></array>"
       "</plist>",
       "! line 1: a <key> outside a <dict>"},
      {"<plist><array><string>&lt;&#x41;&#66;&amp;&quot;&apos;&gt;</string>"
       "<string>a<![CDATA[<&]]>b<!--x-->c</string><string/></array></plist>",
       "[\"<AB&\"'>\",\"a<&bc\",\"\"]"},
      {"<array><string>a\r\nb\rc</string><string>&#x1F600;</string></array>",
       "[\"a\nb\nc\",\"\xf0\x9f\x98\x80\"]"},
      {"<dict><key>n</key><integer> -0x10 </integer><key>u</key><integer>"
       "18446744073709551615</integer><key>r</key><real>-1.5e3</real><key>t"
       "</key><true/><key>f</key><false></false><key>d</key><date>2024-02-"
       "29T23:59:58Z</date><key>b</key><data>AAEC\n/w==</data></dict>",
       "{n=-16,u=18446744073709551615,r=-1500.000000,t=true,f=false,d=d:2024-"
       "02-29T23:59:58Z,b=x:000102ff}"},
      {"<dict><key>a</key><string>1</string><key>b</key><string>2</string>"
       "<key>a</key><string>3</string></dict>",
       "{a=\"3\",b=\"2\"}"},
      {"<plist>\n<dict>\n<string>Acme & Co</string>",
       "! line 3: a <string> where a <key> belongs"},
      {"<plist>\n<dict><key>k</key>\n<string>Acme & Co</string></dict>"
       "</plist>",
       "! line 3: '&' that begins no entity (write &amp; for '&')"},
      {"<string>&nbsp;</string>", "! line 1: an unknown entity &nbsp;"},
      {"<string>&#0;</string>", "! line 1: &#0; names no character XML allows"},
      {"<string>a</strin>", "! line 1: </strin> closes <string>"},
      {"<dict><key>k</key></dict>", "! line 1: the key \"k\" has no value"},
      {"<integer>18446744073709551616</integer>",
       "! line 1: <integer> holds \"18446744073709551616\", which is no "
       "integer"},
      {"<date>2023-02-29T00:00:00Z</date>",
       "! line 1: <date> holds \"2023-02-29T00:00:00Z\", which is no date"},
      {"<string>a</string><string>b</string>",
       "! line 1: text after the property list"},
      {"<plist/>", "! line 1: <plist> holds no value"},
      {"<string>a</string>\n<?xml version=\"1.0\"?>",
       "! line 2: an XML declaration that is not at the start"},
      {"<!-- a -- b --><string/>", "! line 1: \"--\" inside a comment"},
      {"<string>\x01</string>",
       "! line 1: a control character (byte 1), which XML does not allow"},
      {"<string>\xc3</string>", "! line 1: bytes that are not UTF-8"},
      {"<dict>text</dict>", "! line 1: text where an element belongs"},
      {"<set/>", "! line 1: an unknown element <set>"},
      {std::string("\xff\xfe<\0a\0r\0r\0a\0y\0/\0>\0", 18), "[]"},
      {"{ CFBundleExecutable = App; }",
       "! old-style text property lists are not read"},
      {"CFBundleExecutable", "! not a property list"},
      {"", "! an empty file"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.xml);
    EXPECT_EQ(row.value, read(row.xml));
  }
}

// A binary list of `objects` (the top one first) with the given sizes of
// offsets and references.
std::string bplist(const std::vector<std::string>& objects, uint64_t count = 0,
                   int refSize = 1) {
  std::string file = "bplist00";
  std::vector<uint64_t> offsets;
  for (const std::string& object : objects) {
    offsets.push_back(file.size());
    file += object;
  }
  const uint64_t table = file.size();
  for (const uint64_t offset : offsets) {
    file += static_cast<char>(offset >> 8);
    file += static_cast<char>(offset);
  }
  std::string trailer(6, '\0');
  trailer += '\x02';
  trailer += static_cast<char>(refSize);
  for (const uint64_t n :
       {count ? count : objects.size(), uint64_t(0), table}) {
    for (int shift = 56; shift >= 0; shift -= 8) {
      trailer += static_cast<char>(n >> shift);
    }
  }
  return file + trailer;
}

TEST(PropertyList, BinaryDamagedOrHostile) {
  const std::string s =
      "\x51"
      "a";
  const struct {
    const char* what;
    std::string file, value;
  } rows[] = {
      {"every scalar",
       bplist({std::string("\xa8\x01\x02\x03\x04\x05\x06\x07\x08", 9),
               std::string("\x14\0\0\0\0\0\0\0\0\xff\xff\xff\xff\xff\xff\xff"
                           "\xff",
                           17),
               std::string("\x14\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff"
                           "\xff\xff\xff\xff\xfe",
                           17),
               std::string("\x23\x3f\xf8\0\0\0\0\0\0", 9),
               std::string("\x33\0\0\0\0\0\0\0\0", 9), "\x09",
               std::string("\x62\xd8\x3d\xde\x00\x00\x41", 5),
               std::string("\x42\x00\xff", 3), "\x80\x07"}),
       "[18446744073709551615,-2,1.500000,d:2001-01-01T00:00:00Z,true,"
       "\"\xf0\x9f\x98\x80\",x:00ff,{CF$UID=7}]"},
      {"count in an int object",
       bplist({std::string("\x5f\x10\x03"
                           "abc",
                           6)}),
       "\"abc\""},
      {"a dictionary", bplist({"\xd1\x01\x02", s, "\x09"}), "{a=true}"},
      {"a 16-byte int beyond 64 bits",
       bplist({std::string("\x14\0\0\0\0\0\0\0\x01\0\0\0\0\0\0\0\0", 17)}),
       "! object 0 is an integer beyond 64 bits"},
      {"a reference out of range", bplist({"\xa1\x05"}),
       "! a reference to object 5 of 1"},
      {"an array that holds itself",
       bplist({"\xa1\x01", std::string("\xa1\x00", 2)}),
       "! object 0 contains itself"},
      {"a key that is no string", bplist({"\xd1\x01\x01", "\x09"}),
       "! a dictionary key that is not a string"},
      {"a string past the object area",
       bplist({"\x5f\x10\x7f"
               "abc"}),
       "! object 0 runs past the object area"},
      {"an absurd count", bplist({"\xaf\x13\x7f\xff\xff\xff\xff\xff\xff\xff"}),
       "! object 0 runs past the object area"},
      {"more objects than the table holds", bplist({"\x09"}, 1000),
       "! the offset table lies outside the file"},
      {"null", bplist({std::string("\x00", 1)}),
       "! object 0 is a null or fill byte, which no property list holds"},
      {"ASCII above 127", bplist({"\x51\xe9"}),
       "! object 0 is an ASCII string with bytes above 127"},
      {"a lone surrogate", bplist({std::string("\x61\xd8\x3d", 3)}),
       "! object 0 is a UTF-16 string with a broken surrogate"},
      {"cut short", bplist({"\x09"}).substr(0, 30),
       "! too short for a binary property list"},
      {"another version", "bplist15" + std::string(40, '\0'),
       "! a binary property list of version \"15\", not \"00\""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.value, read(row.file));
  }
  // Two objects at one offset overlap.
  std::string twice = bplist({"\xa1\x01", "\x09"});
  twice[twice.size() - 32 - 1] = twice[twice.size() - 32 - 3];
  EXPECT_EQ("! objects 0 and 1 overlap", read(twice));
}

// References that double at each of 60 levels would expand to 2^60
// values; the reader stops when its budget is spent.
TEST(PropertyList, SharedObjectsExpandWithinABudget) {
  std::vector<std::string> objects;
  for (int i = 0; i != 60; ++i) {
    objects.push_back(std::string("\xa2") + char(i + 1) + char(i + 1));
  }
  objects.push_back("\x09");
  EXPECT_EQ(0u, read(bplist(objects)).find("! shared objects expand"));
}

}  // namespace
