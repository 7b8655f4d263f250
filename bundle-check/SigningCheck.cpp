#include "SigningCheck.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "FileReader.h"
#include "Names.h"
#include "PropertyList.h"
#include "Sha256.h"

namespace bundlecheck {

namespace {

namespace fs = std::filesystem;

const char* const entitlementPrefix = "com.apple.security.cs.";
const char* const mattering[] = {
    "allow-jit", "allow-unsigned-executable-memory",
    "disable-library-validation", "allow-dyld-environment-variables"};
const char* const appleSilicon = "Macs with Apple silicon";
// A bundle holds a few thousand files; the walk for unsigned code and
// unsealed files stops at this many and says so.
const size_t maxWalkedFiles = 20000;
// Sealed files and Info.plist larger than this are not hashed.
const uint64_t maxSealedBytes = uint64_t(1) << 32;

// Reads a file at offsets, as the header reader does.
class FileAt {
 public:
  explicit FileAt(const std::string& path) : opened(file.open(path)) {}
  bool isOpen() const { return opened; }
  std::string operator()(uint64_t offset, size_t size) const {
    return opened ? file.readAt(offset, size) : std::string();
  }

 private:
  mutable FileReader file;
  bool opened;
};

// The SHA-256 of a regular file, read in pieces; empty when it cannot be
// read.
std::string fileHash(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) > maxSealedBytes) {
    return std::string();
  }
  const FileAt read(path);
  if (!read.isOpen()) {
    return std::string();
  }
  Sha256 hash;
  for (uint64_t at = 0;; at += 1 << 20) {
    const std::string piece = read(at, 1 << 20);
    hash.update(piece);
    if (piece.size() < (1 << 20)) {
      return hash.finish();
    }
  }
}

// The whole of a small regular file; unset when missing or unreadable.
std::optional<std::string> smallFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size > (16 << 20)) {
    return std::nullopt;
  }
  std::string bytes;
  if (!FileReader::readStart(path, static_cast<size_t>(st.st_size), bytes) ||
      bytes.size() != static_cast<size_t>(st.st_size)) {
    return std::nullopt;
  }
  return bytes;
}

void readEntitlements(SliceSigning& s) {
  if (s.signature.entitlements.empty()) {
    return;
  }
  const PropertyList list = parsePropertyList(s.signature.entitlementsText());
  if (!list.root || list.root->type != PlistValue::Type::Dict) {
    s.entitlementsProblem = list.error.empty() ? "no dictionary" : list.error;
    return;
  }
  for (const char* name : mattering) {
    const PlistValue* value =
        list.root->find(entitlementPrefix + std::string(name));
    if (value && value->type == PlistValue::Type::Boolean && value->boolean) {
      s.entitlements.push_back(name);
    }
  }
}

std::string kindOf(const SliceSigning& s) {
  if (!s.slice.isSigned) {
    return "not signed";
  }
  if (!s.isSigned()) {
    return "unreadable: " + s.signature.problem;
  }
  const CodeDirectory& cd = *s.signature.directory;
  if (cd.linkerSigned()) {
    return "linker-signed";
  }
  if (cd.adHoc()) {
    return "ad hoc";
  }
  return cd.teamId.empty() ? "signed, no Team ID" : "Team ID " + cd.teamId;
}

std::string sealText(Seal seal) {
  return seal == Seal::Intact ? "intact" : "changed";
}

// "the runtime library's arm64 slice", "the launcher's x86_64 slice".
std::string sliceName(const std::string& whose, const SliceSigning& s) {
  return whose + "'s " + s.slice.arch + " slice";
}

// Why a changed or unreadable signature fails, for a finding.
std::string changedText(const SliceSigning& s) {
  return s.isSigned() ? "was changed after signing (" + s.changeDetail() + ")"
                      : "has a signature that cannot be read (" +
                            s.signature.problem + ")";
}

const SliceSigning* signingOf(const SignedFile& file, const MachOSlice* slice) {
  for (const SliceSigning& s : file.slices) {
    if (slice && s.slice.offset == slice->offset &&
        s.slice.cpuType == slice->cpuType) {
      return &s;
    }
  }
  return nullptr;
}

// What files2 of CodeResources says of one path.
struct SealedEntry {
  std::string hash2;  // of a file
  std::optional<std::string> symlink;
  std::string cdhash;  // of nested code
  bool optional = false;
};

// The cdhash of a slice: the hash of its CodeDirectory.
bool cdhashMatches(const std::string& path, const std::string& cdhash) {
  std::string file = path;
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    // A nested bundle: its main executable.
    const std::optional<std::string> info =
        smallFile(path + "/Contents/Info.plist");
    const PropertyList list = info ? parsePropertyList(*info) : PropertyList();
    const std::string* name =
        list.root ? list.root->string("CFBundleExecutable") : nullptr;
    if (!name) {
      return false;
    }
    file = path + "/Contents/MacOS/" + *name;
  }
  for (const SliceSigning& s : readSignedFile(file).slices) {
    if (s.isSigned() &&
        sha256(s.signature.directory->blob).substr(0, cdhash.size()) ==
            cdhash) {
      return true;
    }
  }
  return false;
}

// Checks each file CodeResources seals, then every file under Contents it
// does not, and every Mach-O file for signatures.
class ContentsCheck {
 public:
  ContentsCheck(Report& report, std::string mainExecutable)
      : report(report),
        contents(report.bundlePath + "/Contents"),
        mainExecutable(std::move(mainExecutable)) {}

  // Reads files2; false when the list cannot be read.
  bool readSeals(const std::string& text, std::string& problem) {
    const PropertyList list = parsePropertyList(text);
    const PlistValue* files = list.root ? list.root->find("files2") : nullptr;
    if (!files || files->type != PlistValue::Type::Dict) {
      problem = list.root ? "it has no files2 dictionary" : list.error;
      return false;
    }
    for (const auto& [path, value] : files->dict) {
      SealedEntry entry;
      const PlistValue* hash2 = value.find("hash2");
      const PlistValue* cdhash = value.find("cdhash");
      const PlistValue* optional = value.find("optional");
      entry.hash2 = hash2 && hash2->type == PlistValue::Type::Data
                        ? hash2->text
                        : std::string();
      entry.cdhash = cdhash && cdhash->type == PlistValue::Type::Data
                         ? cdhash->text
                         : std::string();
      if (const std::string* target = value.string("symlink")) {
        entry.symlink = *target;
      }
      entry.optional = optional &&
                       optional->type == PlistValue::Type::Boolean &&
                       optional->boolean;
      sealed[path] = entry;
    }
    sealing = true;
    return true;
  }

  // How many sealed files differ, are missing or were added.
  size_t checkSealed() {
    size_t broken = 0;
    for (const auto& [rel, entry] : sealed) {
      const std::string path = contents + "/" + rel;
      struct stat st;
      std::string why;
      if (lstat(path.c_str(), &st) != 0) {
        why = entry.optional ? "" : "is sealed but missing";
      } else if (entry.symlink) {
        std::error_code error;
        const fs::path target = fs::read_symlink(path, error);
        why = !error && target == *entry.symlink
                  ? ""
                  : "was a symbolic link to " + inQuotes(*entry.symlink) +
                        " when sealed, and is changed";
      } else if (!entry.cdhash.empty()) {
        why = cdhashMatches(path, entry.cdhash)
                  ? ""
                  : "is nested code whose signature (cdhash) is no longer "
                    "the one sealed";
      } else if (!entry.hash2.empty()) {
        why = fileHash(path).substr(0, entry.hash2.size()) == entry.hash2
                  ? ""
                  : "was changed after the bundle was sealed";
      }
      if (!why.empty()) {
        ++broken;
        add(Code::SealFile, path, why + damaged);
      }
    }
    return broken;
  }

  // Walks Contents: unsigned code, and files added after sealing.
  size_t walk() {
    // In the order of names, so that reports of one bundle compare equal.
    std::vector<std::pair<std::string, bool>> entries;  // path, is a link
    bool capped = false;
    std::error_code error;
    for (fs::recursive_directory_iterator
             it(contents, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
      std::error_code entryError;
      const bool link = it->is_symlink(entryError);
      if (!link && !it->is_regular_file(entryError)) {
        continue;
      }
      if (entries.size() == maxWalkedFiles) {
        capped = true;
        break;
      }
      entries.emplace_back(it->path().string(), link);
    }
    std::sort(entries.begin(), entries.end());
    size_t added = 0;
    for (const auto& [path, link] : entries) {
      const std::string rel = path.substr(contents.size() + 1);
      if (sealing && unsealed(rel)) {
        ++added;
        add(Code::SealFile, path,
            "was added after the bundle was sealed and is not sealed" +
                damaged);
      }
      if (!link) {
        checkCode(path);
      }
    }
    if (capped) {
      add(Code::CodeWalkCapped, contents,
          "only the first " + std::to_string(maxWalkedFiles) +
              " files found were checked for signatures and seals; the rest "
              "were not");
    }
    return added;
  }

 private:
  bool unsealed(const std::string& rel) const {
    if (sealed.count(rel) || rel == "Info.plist" || rel == "PkgInfo" ||
        rel == mainExecutable || rel.rfind("_CodeSignature/", 0) == 0 ||
        fs::path(rel).filename() == ".DS_Store") {
      return false;
    }
    // Inside nested code sealed as a whole.
    for (size_t slash = rel.find('/'); slash != std::string::npos;
         slash = rel.find('/', slash + 1)) {
      if (sealed.count(rel.substr(0, slash))) {
        return false;
      }
    }
    return true;
  }

  void checkCode(const std::string& path) {
    const FileAt read(path);
    if (!isMachOStart(read(0, 8))) {
      return;
    }
    const LibraryHeader header = readLibraryHeader(path);
    std::string missing;
    for (const MachOSlice& slice : header.slices) {
      const bool good =
          slice.isSigned &&
          readCodeSignature(slice, std::ref(read)).problem.empty();
      if (!good) {
        missing += (missing.empty() ? "" : ", ") + slice.arch;
      }
    }
    if (!missing.empty()) {
      add(Code::UnsignedCode, path,
          "Mach-O code whose slices are not all signed (" + missing +
              "): notarization rejects a bundle holding unsigned code");
    }
  }

  void add(Code code, const std::string& file, const std::string& message) {
    report.findings.push_back(Finding{code, file, 0, message});
  }

  const std::string damaged =
      ": a downloaded copy of the bundle is reported as damaged and does "
      "not open";
  Report& report;
  std::string contents;
  std::string mainExecutable;
  std::map<std::string, SealedEntry> sealed;
  bool sealing = false;
};

}  // namespace

bool SliceSigning::hardened() const {
  return isSigned() && signature.directory->hardenedRuntime();
}

bool SliceSigning::grants(const std::string& entitlement) const {
  return std::find(entitlements.begin(), entitlements.end(), entitlement) !=
         entitlements.end();
}

std::string SliceSigning::teamId() const {
  return isSigned() && !signature.directory->adHoc()
             ? signature.directory->teamId
             : std::string();
}

bool SliceSigning::changed() const {
  return (pages.checked && !pages.intact) || entitlementsSeal == Seal::Broken;
}

std::string SliceSigning::changeDetail() const {
  if (pages.checked && !pages.intact) {
    return pages.detail;
  }
  return entitlementsSeal == Seal::Broken
             ? "its entitlements are not the ones signed"
             : std::string();
}

SignedFile readSignedFile(const std::string& path) {
  SignedFile file;
  file.path = path;
  file.header = readLibraryHeader(path);
  if (!file.header.isMachO()) {
    return file;
  }
  const FileAt read(path);
  for (const MachOSlice& slice : file.header.slices) {
    SliceSigning s;
    s.slice = slice;
    if (slice.isSigned && slice.problem.empty()) {
      s.signature = readCodeSignature(slice, std::ref(read));
    } else {
      s.signature.problem = "not signed";
    }
    if (s.isSigned()) {
      const CodeDirectory& cd = *s.signature.directory;
      s.pages = checkCodePages(cd, slice, std::ref(read));
      if (!s.signature.entitlements.empty()) {
        s.entitlementsSeal =
            checkSlot(cd, entitlementsSlot, s.signature.entitlements);
      }
      readEntitlements(s);
    }
    file.slices.push_back(std::move(s));
  }
  return file;
}

std::vector<SignatureState> signatureStates(const SignedFile& file) {
  std::vector<SignatureState> states;
  for (const SliceSigning& s : file.slices) {
    SignatureState state;
    state.arch = s.slice.arch;
    state.kind = kindOf(s);
    state.hardenedRuntime = s.hardened();
    state.entitlements = s.entitlements;
    if (s.isSigned()) {
      state.teamId = s.signature.directory->teamId;
      state.cmsSignature = s.signature.cmsSigned;
      state.seals.emplace_back(
          "code", !s.pages.checked ? "not checked: " + s.pages.detail
                  : s.pages.intact ? "intact"
                                   : "changed: " + s.pages.detail);
      if (s.entitlementsSeal != Seal::Absent) {
        state.seals.emplace_back("entitlements", sealText(s.entitlementsSeal));
      }
      if (!s.entitlementsProblem.empty()) {
        state.seals.emplace_back("entitlements list",
                                 "not read: " + s.entitlementsProblem);
      }
      if (!s.signature.derEntitlements.empty()) {
        state.seals.emplace_back(
            "DER entitlements",
            "not checked: present, not read (the XML ones are)");
      }
    }
    states.push_back(std::move(state));
  }
  return states;
}

void weighRuntimeSigning(const SignedFile& launcher, const SignedFile& runtime,
                         std::vector<ArchOutcome>& outcomes, Report& report) {
  for (ArchOutcome& outcome : outcomes) {
    const SliceSigning* l = nullptr;
    for (const SliceSigning& s : launcher.slices) {
      if (s.slice.arch == outcome.arch && s.slice.fileType == 2) {
        l = &s;
      }
    }
    if (!outcome.loads() || !l) {
      continue;
    }
    const SliceSigning* r =
        signingOf(runtime, runtimeSliceFor(l->slice, runtime.header));
    if (!r) {
      continue;
    }
    const bool arm = l->slice.isArm64Family();
    const std::string where =
        "on " + outcome.macs + " (" + outcome.arch + "): ";
    if (r->slice.isSigned && (!r->isSigned() || r->changed())) {
      const std::string cause =
          "the " + sliceName("runtime library", *r) + " " + changedText(*r);
      if (arm || l->hardened()) {
        outcome.code = Code::RuntimeModified;
        outcome.cause = cause + ", and the loader refuses it";
        continue;
      }
      report.findings.push_back(Finding{
          Code::RuntimeModified, runtime.path, 0,
          where + cause +
              "; a launcher without the hardened runtime may still load it "
              "there, but a downloaded copy is refused"});
    }
    if (!l->hardened() || l->grants("disable-library-validation")) {
      continue;
    }
    const std::string team = l->teamId();
    const std::string theirs = r->teamId();
    if (!team.empty() && theirs == team) {
      continue;
    }
    const std::string signedBy =
        !r->slice.isSigned ? "is not signed"
        : !r->isSigned()   ? "has a signature that cannot be read"
        : theirs.empty()   ? "is signed ad hoc, with no Team ID"
                           : "is signed by Team ID " + theirs;
    outcome.code = Code::RuntimeLibraryValidation;
    outcome.cause =
        "the launcher has the hardened runtime" +
        (team.empty() ? std::string(" but no Team ID (ad hoc)")
                      : " and Team ID " + team) +
        ", so its loader accepts only libraries of that Team ID; the " +
        sliceName("runtime library", *r) + " " + signedBy +
        ". Sign the runtime with Team ID " +
        (team.empty() ? std::string("of the launcher") : team) +
        ", or grant the launcher com.apple.security.cs."
        "disable-library-validation";
  }
}

void checkBundleSigning(Report& report) {
  const SignedFile launcher = readSignedFile(report.launcherPath);
  if (!launcher.header.isMachO() || report.bundlePath.empty()) {
    return;
  }
  report.launcherSignatures = signatureStates(launcher);
  const auto add = [&](Code code, const std::string& file,
                       const std::string& message) {
    report.findings.push_back(Finding{code, file, 0, message});
  };

  // The Macs whose kernel kills the launcher on start, and whether some
  // Mac still starts it.
  std::vector<std::string> killedOn;
  bool startsSomewhere = false;
  bool hardened = false, jit = false, libraryValidationOff = false;
  bool teamId = false;
  for (const SliceSigning& s : launcher.slices) {
    if (s.slice.fileType != 2) {
      continue;
    }
    const bool arm = s.slice.isArm64Family();
    hardened = hardened || s.hardened();
    jit = jit || s.grants("allow-jit") ||
          s.grants("allow-unsigned-executable-memory");
    libraryValidationOff =
        libraryValidationOff ||
        (s.hardened() && s.grants("disable-library-validation"));
    teamId = teamId || !s.teamId().empty();
    if (!s.slice.isSigned || (s.isSigned() && !s.changed())) {
      startsSomewhere = true;
      continue;
    }
    // Hardened code and code with the kill flag is killed on Intel Macs
    // too; other code is only killed on Apple silicon.
    const bool strict =
        s.isSigned() &&
        (s.hardened() || (s.signature.directory->flags & 0x200));
    const std::string macs = arm ? appleSilicon : "Intel Macs";
    const std::string consequence =
        arm      ? "the kernel kills it on start"
        : strict ? "with the hardened runtime, the kernel kills it there too"
                 : "without the hardened runtime it may still start there, "
                   "but a downloaded copy is refused";
    add(Code::LauncherModified, report.launcherPath,
        "on " + macs + " (" + s.slice.arch + "): the " +
            sliceName("launcher", s) + " " + changedText(s) + ": " +
            consequence);
    if (!arm && !strict) {
      startsSomewhere = true;
    } else if (std::find(killedOn.begin(), killedOn.end(), macs) ==
               killedOn.end()) {
      killedOn.push_back(macs);
    }
  }
  if (!killedOn.empty()) {
    // A kill on start comes before anything the launcher would print.
    std::string macs;
    for (const std::string& name : killedOn) {
      macs += (macs.empty() ? "" : " and ") + name;
    }
    report.error =
        (startsSomewhere ? macs + " do not start" : "No Mac starts") +
        " the launcher at " + inQuotes(report.launcherPath) +
        ": it does not match its signature";
    report.errorCause.reset();
    report.errorCutAtLoaderText = false;
  }
  if (hardened && !jit) {
    add(Code::LauncherNoJit, report.launcherPath,
        "the launcher has the hardened runtime but neither "
        "com.apple.security.cs.allow-jit nor "
        "com.apple.security.cs.allow-unsigned-executable-memory: the "
        "virtual machine's compiler dies at its first compilation. Grant "
        "allow-jit for a runtime that maps its code with MAP_JIT, "
        "allow-unsigned-executable-memory otherwise");
  }
  if (libraryValidationOff) {
    add(Code::LibraryValidationOff, report.launcherPath,
        "the launcher grants com.apple.security.cs.disable-library-"
        "validation: it loads a runtime of any signer, and so does a "
        "per-user configuration's app.runtime, which can load a foreign "
        "library into the signed application");
  }
  if (!teamId) {
    add(Code::LauncherNoTeamId, report.launcherPath,
        "the launcher has no Team ID (it is ad hoc or not signed): a "
        "downloaded copy is blocked by Gatekeeper unless the bundle is "
        "signed with a Developer ID and notarized");
  }

  // The seals of the bundle, as the launcher's signature holds them.
  const std::string contents = report.bundlePath + "/Contents";
  const std::string main = report.launcherPath.substr(
      std::min(report.launcherPath.size(), contents.size() + 1));
  ContentsCheck check(report, main);
  const SliceSigning* sealer = nullptr;
  for (const SliceSigning& s : launcher.slices) {
    if (s.isSigned() && !sealer) {
      sealer = &s;
    }
  }
  std::string infoState, resourcesState;
  if (sealer) {
    const CodeDirectory& cd = *sealer->signature.directory;
    const std::string infoPath = contents + "/Info.plist";
    if (!cd.specialSlot(infoPlistSlot).empty()) {
      const std::optional<std::string> info = smallFile(infoPath);
      infoState =
          !info ? "missing" : sealText(checkSlot(cd, infoPlistSlot, *info));
      if (infoState != "intact") {
        add(Code::SealInfoPlist, infoPath,
            (infoState == "missing"
                 ? std::string("Info.plist is missing, though")
                 : std::string("Info.plist was changed after the launcher "
                               "was signed, and")) +
                " the launcher's signature seals it: a downloaded copy of the "
                "bundle is reported as damaged and does not open");
      }
    }
    const std::string resourcesPath =
        contents + "/_CodeSignature/CodeResources";
    if (!cd.specialSlot(resourcesSlot).empty()) {
      const std::optional<std::string> resources = smallFile(resourcesPath);
      std::string problem;
      if (!resources) {
        resourcesState = "missing";
      } else if (checkSlot(cd, resourcesSlot, *resources) == Seal::Broken) {
        resourcesState = "changed";
      } else if (!check.readSeals(*resources, problem)) {
        resourcesState = "not checked: " + problem;
      }
      if (!resourcesState.empty()) {
        add(Code::SealResources, resourcesPath,
            "the list of sealed files is " + resourcesState +
                ": a downloaded copy of the bundle is reported as damaged "
                "and does not open");
      }
    }
  }
  size_t broken = check.checkSealed();
  broken += check.walk();
  if (sealer && resourcesState.empty() &&
      !sealer->signature.directory->specialSlot(resourcesSlot).empty()) {
    resourcesState = broken == 0 ? "intact"
                                 : "changed: " + std::to_string(broken) +
                                       (broken == 1 ? " file" : " files");
  }
  for (SignatureState& state : report.launcherSignatures) {
    if (state.seals.empty()) {
      continue;
    }
    if (!infoState.empty()) {
      state.seals.emplace_back("Info.plist", infoState);
    }
    if (!resourcesState.empty()) {
      state.seals.emplace_back("resources", resourcesState);
    }
  }
}

}  // namespace bundlecheck
