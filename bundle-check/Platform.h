// Whether the runtime library loads into the bundle's launcher, one
// architecture of the launcher at a time, as the headers of both files tell:
// the Mac runs the launcher's slice for its own processor, and that process
// loads only a library slice of the same architecture, signed on Apple
// silicon.

#ifndef BUNDLECHECK_PLATFORM_H
#define BUNDLECHECK_PLATFORM_H

#include <optional>
#include <string>
#include <vector>

#include "FindingCodes.h"
#include "LibraryFile.h"

namespace bundlecheck {

struct ArchOutcome {
  std::string arch;  // the launcher's
  // The Macs this architecture of the launcher runs on; empty for an ELF
  // launcher.
  std::string macs;
  // None when the library loads; else the finding's code and its cause.
  std::optional<Code> code;
  std::string cause;

  bool loads() const { return !code; }
  // The launcher itself does not start there.
  bool launcherFails() const {
    return code == Code::LauncherUnsigned || code == Code::LauncherMalformed;
  }
};

// The runtime's slice that a process of the launcher's `slice` loads; null
// when there is none.
const MachOSlice* runtimeSliceFor(const MachOSlice& slice,
                                  const LibraryHeader& runtime);

// A launcher that is neither ELF nor Mach-O is taken to be this host's.
std::vector<ArchOutcome> weighPlatform(const LibraryHeader& launcher,
                                       const LibraryHeader& runtime);

}  // namespace bundlecheck

#endif  // BUNDLECHECK_PLATFORM_H
