// A statically linked check: there is no loader in the process, and the C
// library's dlopen only fails.

#include "HostLoader.h"

namespace bundlecheck {

std::string whyNoLoader() {
  return "this applauncher-check is linked statically and has no dynamic "
         "loader; a check built for this host from the sources loads the "
         "library";
}

}  // namespace bundlecheck
