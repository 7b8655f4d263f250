// A small code signer for the bundle check's tests: it re-signs a thin
// 64-bit Mach-O file that already has an LC_CODE_SIGNATURE (a linker-signed
// one, or a MachOFixture), writing a SuperBlob with a SHA-256 CodeDirectory
// and, unless it imitates a linker, requirements, entitlements and a CMS
// blob that holds a placeholder instead of a real signature. It also seals
// a bundle's files in a CodeResources file. Nothing it writes would pass a
// certificate check; it is what the check reads without one.

#ifndef FIXTURESIGNER_H
#define FIXTURESIGNER_H

#include <optional>
#include <string>

namespace testsupport {

struct SignOptions {
  std::string identifier = "com.example.app";
  std::string teamId;  // empty: an ad-hoc signature
  bool hardenedRuntime = false;
  // Only a CodeDirectory flagged ad hoc and linker-signed, with no special
  // slots, as a linker writes it.
  bool linkerStyle = false;
  int pageSizeLog2 = 12;
  std::optional<std::string> entitlements;   // the XML property list
  std::optional<std::string> infoPlist;      // the bytes sealed in slot 1
  std::optional<std::string> codeResources;  // the bytes sealed in slot 3
};

// `file` re-signed; throws std::runtime_error when it is no thin 64-bit
// Mach-O file with an LC_CODE_SIGNATURE.
std::string resign(const std::string& file, const SignOptions& options);

// A CodeResources property list that seals every file and link under
// <bundle>/Contents, but for Info.plist, _CodeSignature and
// `mainExecutable` (relative to Contents): files2 with a hash2 each, or a
// symlink entry.
std::string codeResources(const std::string& bundle,
                          const std::string& mainExecutable);

// Signs a bundle as a signing tool would: writes
// Contents/_CodeSignature/CodeResources and re-signs the launcher
// Contents/MacOS/<launcher> with `options`, sealing Info.plist and the
// resources. Sign the nested code first.
void signBundle(const std::string& bundle, const std::string& launcher,
                SignOptions options);

}  // namespace testsupport

#endif  // FIXTURESIGNER_H
