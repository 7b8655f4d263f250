#include "helpers/FixtureSigner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "Sha256.h"
#include "helpers/MachOFixture.h"
#include "helpers/TestSupport.h"

namespace testsupport {

namespace {

uint64_t le(const std::string& p, size_t at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(p.at(at + i));
  }
  return value;
}

std::string be32(uint64_t value) {
  std::string bytes;
  poke(bytes, 0, value, 4, true);
  return bytes;
}

std::string blob(uint32_t magic, const std::string& body) {
  return be32(magic) + be32(8 + body.size()) + body;
}

std::string base64(const std::string& bytes) {
  static const char digits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) {
      group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    }
    if (i + 2 < bytes.size()) {
      group |= static_cast<unsigned char>(bytes[i + 2]);
    }
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    for (size_t k = 0; k != 4; ++k) {
      text += k <= n ? digits[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return text;
}

std::string xmlEscaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c == '&'   ? "&amp;"
           : c == '<' ? "&lt;"
           : c == '>' ? "&gt;"
                      : std::string(1, c);
  }
  return out;
}

}  // namespace

std::string resign(const std::string& input, const SignOptions& options) {
  std::string file = input;
  if (file.size() < 32 || le(file, 0, 4) != 0xfeedfacf) {
    throw std::runtime_error("resign: no thin 64-bit Mach-O file");
  }
  const uint64_t count = le(file, 16, 4);
  size_t signatureCommand = 0, linkEdit = 0;
  uint64_t textOffset = 0, textSize = 0;
  size_t at = 32;
  for (uint64_t i = 0; i != count; ++i) {
    const uint64_t command = le(file, at, 4);
    const std::string name =
        command == 0x19 ? std::string(file.c_str() + at + 8) : "";
    if (command == 0x1d) {
      signatureCommand = at;
    } else if (name == "__LINKEDIT") {
      linkEdit = at;
    } else if (name == "__TEXT") {
      textOffset = le(file, at + 40, 8);
      textSize = le(file, at + 48, 8);
    }
    at += le(file, at + 4, 4);
  }
  if (signatureCommand == 0) {
    throw std::runtime_error("resign: no LC_CODE_SIGNATURE");
  }
  const uint64_t codeLimit = le(file, signatureCommand + 8, 4);
  file.resize(codeLimit);

  // The blobs other than the CodeDirectory, by slot.
  std::map<uint32_t, std::string> blobs;
  std::map<int, std::string> special;
  if (!options.linkerStyle) {
    blobs[2] = blob(0xfade0c01, be32(0));  // no requirement
    special[2] = blobs[2];
    if (options.entitlements) {
      blobs[5] = blob(0xfade7171, *options.entitlements);
      special[5] = blobs[5];
    }
    // Where a signing tool puts the CMS signature; ad hoc, it is empty.
    blobs[0x10000] = blob(
        0xfade0b01, options.teamId.empty() ? "" : "placeholder, no signature");
  }
  if (options.infoPlist) {
    special[1] = *options.infoPlist;
  }
  if (options.codeResources) {
    special[3] = *options.codeResources;
  }
  const uint32_t specialCount = special.empty() ? 0 : special.rbegin()->first;
  const uint64_t page = uint64_t(1) << options.pageSizeLog2;
  const uint64_t pages = (codeLimit + page - 1) / page;
  const std::string identifier = options.identifier + '\0';
  const std::string team = options.teamId.empty() ? "" : options.teamId + '\0';
  const uint64_t hashOffset =
      88 + identifier.size() + team.size() + 32 * uint64_t(specialCount);
  const uint64_t directorySize = hashOffset + 32 * pages;
  uint64_t superSize = 12 + 8 * (blobs.size() + 1) + directorySize;
  for (const auto& entry : blobs) {
    superSize += entry.second.size();
  }
  const uint64_t dataSize = (superSize + 15) / 16 * 16;

  // The header says how large the signature is, and is itself signed.
  poke(file, signatureCommand + 12, dataSize, 4, false);
  if (linkEdit != 0) {
    const uint64_t fileSize = codeLimit + dataSize - le(file, linkEdit + 40, 8);
    poke(file, linkEdit + 48, fileSize, 8, false);
    const uint64_t vmSize = le(file, linkEdit + 32, 8);
    if (vmSize < fileSize) {
      poke(file, linkEdit + 32, (fileSize + 0x3fff) / 0x4000 * 0x4000, 8,
           false);
    }
  }

  std::string cd;
  uint32_t flags = options.teamId.empty() ? 0x2 : 0;
  flags |= options.hardenedRuntime ? 0x10000 : 0;
  flags |= options.linkerStyle ? 0x20002 : 0;
  const uint64_t fields[] = {0xfade0c02,   directorySize, 0x20400,
                             flags,        hashOffset,    88,
                             specialCount, pages,         codeLimit};
  for (size_t i = 0; i != 9; ++i) {
    poke(cd, 4 * i, fields[i], 4, true);
  }
  poke(cd, 36, 32, 1, true);
  poke(cd, 37, 2, 1, true);
  poke(cd, 38, 0, 1, true);
  poke(cd, 39, options.pageSizeLog2, 1, true);
  poke(cd, 40, 0, 4, true);  // spare2
  poke(cd, 44, 0, 4, true);  // scatter
  poke(cd, 48, team.empty() ? 0 : 88 + identifier.size(), 4, true);
  poke(cd, 52, 0, 4, true);  // spare3
  poke(cd, 56, 0, 8, true);  // codeLimit64
  poke(cd, 64, textOffset, 8, true);
  poke(cd, 72, textSize, 8, true);
  poke(cd, 80, le(file, 12, 4) == 2 ? 1 : 0, 8, true);
  cd += identifier + team;
  for (int slot = static_cast<int>(specialCount); slot >= 1; --slot) {
    const auto sealed = special.find(slot);
    cd += sealed == special.end() ? std::string(32, '\0')
                                  : bundlecheck::sha256(sealed->second);
  }
  for (uint64_t k = 0; k != pages; ++k) {
    cd += bundlecheck::sha256(std::string_view(file).substr(k * page, page));
  }

  blobs[0] = cd;
  std::string index, body;
  uint64_t offset = 12 + 8 * blobs.size();
  for (const auto& entry : blobs) {
    index += be32(entry.first) + be32(offset + body.size());
    body += entry.second;
  }
  file +=
      be32(0xfade0cc0) + be32(superSize) + be32(blobs.size()) + index + body;
  file.resize(codeLimit + dataSize);
  return file;
}

std::string codeResources(const std::string& bundle,
                          const std::string& mainExecutable) {
  namespace fs = std::filesystem;
  const fs::path contents = fs::path(bundle) / "Contents";
  std::map<std::string, std::string> entries;
  for (auto it = fs::recursive_directory_iterator(contents);
       it != fs::recursive_directory_iterator(); ++it) {
    const std::string rel = fs::relative(it->path(), contents).string();
    if (rel == "Info.plist" || rel == mainExecutable ||
        rel.rfind("_CodeSignature", 0) == 0) {
      continue;
    }
    if (it->is_symlink()) {
      entries[rel] = "<dict><key>symlink</key><string>" +
                     xmlEscaped(fs::read_symlink(it->path()).string()) +
                     "</string></dict>";
    } else if (it->is_regular_file()) {
      entries[rel] = "<dict><key>hash2</key><data>" +
                     base64(bundlecheck::sha256(readFile(it->path()))) +
                     "</data></dict>";
    }
  }
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
      "<dict>\n<key>files</key><dict/>\n<key>files2</key><dict>\n";
  for (const auto& entry : entries) {
    text += "<key>" + xmlEscaped(entry.first) + "</key>" + entry.second + "\n";
  }
  return text + "</dict>\n</dict>\n</plist>\n";
}

void signBundle(const std::string& bundle, const std::string& launcher,
                SignOptions options) {
  const std::string rel = "MacOS/" + launcher;
  const std::string resources = codeResources(bundle, rel);
  writeFile(bundle + "/Contents/_CodeSignature/CodeResources", resources);
  const std::string path = bundle + "/Contents/" + rel;
  options.codeResources = resources;
  options.infoPlist = readFile(bundle + "/Contents/Info.plist");
  writeFile(path, resign(readFile(path), options));
  chmod(path.c_str(), 0755);
}

}  // namespace testsupport
