// The verdicts of code signing that stop real Mac releases, predicted from
// the bundle's files without a certificate: whether the launcher's and the
// runtime's code still match their signatures, whether the loader of a
// hardened launcher accepts the runtime (library validation), whether the
// VM's compiler may map executable memory, whether the sealed resources
// are intact, and whether all code in the bundle is signed for
// notarization. No certificate and no CMS signature is verified.

#ifndef BUNDLECHECK_SIGNINGCHECK_H
#define BUNDLECHECK_SIGNINGCHECK_H

#include <string>
#include <vector>

#include "CodeSignature.h"
#include "LibraryFile.h"
#include "Platform.h"
#include "Report.h"

namespace bundlecheck {

// One slice's signature, as read and checked.
struct SliceSigning {
  MachOSlice slice;
  CodeSignature signature;
  PageCheck pages;
  Seal entitlementsSeal = Seal::Absent;
  // The entitlements granted (true) that matter to the launcher, short
  // names: "allow-jit", "allow-unsigned-executable-memory",
  // "disable-library-validation", "allow-dyld-environment-variables".
  std::vector<std::string> entitlements;
  std::string entitlementsProblem;  // why the XML could not be read

  bool isSigned() const { return signature.problem.empty(); }
  bool hardened() const;
  bool grants(const std::string& entitlement) const;
  // The Team ID the loader compares; empty for ad-hoc and unsigned code.
  std::string teamId() const;
  // Whether the code pages or the entitlements no longer match; the
  // detail says where.
  bool changed() const;
  std::string changeDetail() const;
};

struct SignedFile {
  std::string path;
  LibraryHeader header;
  std::vector<SliceSigning> slices;  // one for each of header.slices
};

// Reads a file's headers and every slice's signature, and checks the code
// pages. Never throws but for memory.
SignedFile readSignedFile(const std::string& path);

// The signature of `slices` for the report.
std::vector<SignatureState> signatureStates(const SignedFile& file);

// Where the runtime loads into an architecture of the launcher, whether
// signing lets it: a changed runtime is refused, and a hardened launcher's
// loader accepts only a runtime of its own Team ID. Marks the outcomes it
// fails and adds the policy findings (JIT, library validation off).
void weighRuntimeSigning(const SignedFile& launcher, const SignedFile& runtime,
                         std::vector<ArchOutcome>& outcomes, Report& report);

// The launcher's own signature, the bundle's seals (Info.plist,
// CodeResources and the files it seals) and the unsigned code under
// Contents; for a Mach-O launcher only. A launcher changed after signing
// sets the report's error.
void checkBundleSigning(Report& report);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_SIGNINGCHECK_H
