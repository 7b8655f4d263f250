// Whether this build of the check has a dynamic loader to try a runtime
// library with (--load-runtime). A statically linked check, the one for any
// Linux CI machine, has none. Defined once per kind of build; CMake picks
// the file.

#ifndef BUNDLECHECK_HOSTLOADER_H
#define BUNDLECHECK_HOSTLOADER_H

#include <string>

namespace bundlecheck {

// Empty when this build can load libraries; else why it cannot, for the
// report.
std::string whyNoLoader();

}  // namespace bundlecheck

#endif  // BUNDLECHECK_HOSTLOADER_H
