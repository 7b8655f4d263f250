#include "Platform.h"

namespace bundlecheck {

namespace {

const char* const appleSilicon = "Macs with Apple silicon";
const char* const unsignedCause =
    " slice is not signed, and Macs with Apple silicon run no unsigned code";

ArchOutcome weighElf(const LibraryHeader& launcher,
                     const LibraryHeader& runtime) {
  ArchOutcome outcome{elfMachineName(launcher.machine), "", std::nullopt, ""};
  if (runtime.kind == LibraryHeader::Elf && runtime.sharedLibrary &&
      runtime.machine == launcher.machine) {
    return outcome;
  }
  bool library = runtime.sharedLibrary;
  for (const MachOSlice& slice : runtime.slices) {
    library = library || slice.isLibrary();
  }
  outcome.code = library ? Code::RuntimeWrongMachine : Code::RuntimeNotLibrary;
  outcome.cause = "runtime library is " + runtime.description +
                  ", not an ELF shared library for " + outcome.arch;
  return outcome;
}

}  // namespace

const MachOSlice* runtimeSliceFor(const MachOSlice& slice,
                                  const LibraryHeader& runtime) {
  const MachOSlice* found = nullptr;
  for (const MachOSlice& candidate : runtime.slices) {
    if (candidate.cpuType != slice.cpuType) {
      continue;
    }
    // An arm64 process loads no arm64e code, an x86_64 one no x86_64h code;
    // an arm64e or x86_64h one loads both and prefers its own.
    if (candidate.isArm64e() == slice.isArm64e() &&
        candidate.isX86_64h() == slice.isX86_64h()) {
      return &candidate;
    }
    if (slice.isArm64e() || slice.isX86_64h()) {
      found = &candidate;
    }
  }
  return found;
}

namespace {

void weighSlice(const MachOSlice& slice, const LibraryHeader& runtime,
                ArchOutcome& outcome) {
  const auto fail = [&](Code code, const std::string& cause) {
    outcome.code = code;
    outcome.cause = cause;
  };
  const std::string of = "runtime library's " + slice.arch;
  if (!slice.problem.empty()) {
    return fail(
        Code::LauncherMalformed,
        "launcher's " + slice.arch + " slice is malformed: " + slice.problem);
  }
  if (slice.isArm64Family() && !slice.isSigned) {
    return fail(Code::LauncherUnsigned,
                "launcher's " + slice.arch + unsignedCause);
  }
  if (!runtime.isMachO()) {
    return fail(runtime.sharedLibrary ? Code::RuntimeWrongMachine
                                      : Code::RuntimeNotLibrary,
                "runtime library is " + runtime.description +
                    ", not a Mach-O dynamic library");
  }
  if (!runtime.problem.empty()) {
    return fail(Code::RuntimeMalformed,
                "runtime library is malformed: " + runtime.problem);
  }
  const MachOSlice* found = runtimeSliceFor(slice, runtime);
  if (!found) {
    std::string held;
    bool arm64e = false;
    for (const MachOSlice& other : runtime.slices) {
      held += (held.empty() ? "" : ", ") + other.arch;
      arm64e = arm64e || (other.isArm64e() && slice.isArm64Family());
    }
    if (arm64e) {
      return fail(Code::RuntimeArm64e,
                  "runtime library has an arm64e slice, which an arm64 "
                  "process cannot load, and no arm64 slice");
    }
    return fail(Code::RuntimeWrongMachine,
                "runtime library has no " + slice.arch + " slice (it holds " +
                    held + ")");
  }
  if (!found->problem.empty()) {
    return fail(Code::RuntimeMalformed,
                of + " slice is malformed: " + found->problem);
  }
  if (!found->isLibrary()) {
    return fail(Code::RuntimeNotLibrary,
                of + " slice is no dynamic library, so it cannot be loaded");
  }
  if (slice.isArm64Family() && !found->isSigned) {
    return fail(Code::RuntimeUnsigned, of + unsignedCause);
  }
}

std::vector<ArchOutcome> weighMachO(const LibraryHeader& launcher,
                                    const LibraryHeader& runtime) {
  if (!launcher.problem.empty()) {
    return {ArchOutcome{"", "any Mac", Code::LauncherMalformed,
                        "launcher is malformed: " + launcher.problem}};
  }
  if (launcher.universal64) {
    return {ArchOutcome{"", "any Mac", Code::LauncherMalformed,
                        "launcher has the 64-bit universal header "
                        "(0xcafebabf), and the kernel starts only universal "
                        "files with the 0xcafebabe header"}};
  }
  bool arm = false;
  bool executable = false;
  for (const MachOSlice& slice : launcher.slices) {
    arm = arm || slice.isArm64Family();
    executable = executable || slice.fileType == 2 || !slice.problem.empty();
  }
  if (!executable) {
    return {ArchOutcome{
        "", "any Mac", Code::LauncherMalformed,
        "launcher is " + launcher.description + ", not an executable"}};
  }
  std::vector<ArchOutcome> outcomes;
  for (const MachOSlice& slice : launcher.slices) {
    if (slice.fileType != 2 && slice.problem.empty()) {
      continue;
    }
    ArchOutcome outcome{slice.arch, "", std::nullopt, ""};
    if (slice.arch.empty()) {
      outcome.macs = "any Mac";
    } else if (slice.isArm64Family()) {
      outcome.macs = appleSilicon;
    } else if (slice.arch.compare(0, 6, "x86_64") == 0) {
      // Without an arm64 slice, Apple silicon runs this one translated.
      outcome.macs =
          arm ? "Intel Macs" : "every Mac (Apple silicon through Rosetta)";
    } else {
      outcome.macs = "no Mac of today";
    }
    weighSlice(slice, runtime, outcome);
    outcomes.push_back(outcome);
  }
  return outcomes;
}

}  // namespace

std::vector<ArchOutcome> weighPlatform(const LibraryHeader& launcher,
                                       const LibraryHeader& runtime) {
  if (launcher.kind == LibraryHeader::Elf) {
    return {weighElf(launcher, runtime)};
  }
  if (launcher.isMachO()) {
    return weighMachO(launcher, runtime);
  }
  const LibraryHeader& host = hostLauncher();
  return &launcher == &host ? std::vector<ArchOutcome>{weighElf(host, runtime)}
                            : weighPlatform(host, runtime);
}

}  // namespace bundlecheck
