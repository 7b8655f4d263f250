// A dynamically linked check: the system's loader opens libraries.

#include "HostLoader.h"

namespace bundlecheck {

std::string whyNoLoader() { return std::string(); }

}  // namespace bundlecheck
