// The bundle check's Info.plist reader on arbitrary bytes.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "InfoPlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const bundlecheck::InfoPlist plist = bundlecheck::parseInfoPlist(text);
  const bool xml = plist.format == "xml";
  FUZZ_CHECK(
      xml || plist.format == "binary" || plist.format == "not a property list",
      plist.format);
  // Values come only from an XML list, and only from a <string> in it;
  // entities make them shorter, never longer.
  for (const auto& value : {plist.bundleExecutable, plist.bundlePackageType}) {
    FUZZ_CHECK(!value || (xml && text.find("<string>") != std::string::npos &&
                          value->size() <= text.size()),
               visible(text));
  }
  return 0;
}
