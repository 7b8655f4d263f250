#include <dlfcn.h>

#include "Dll.h"
#include "FileUtils.h"

namespace {

// The loader's text on one line, each run of line breaks and tabs folded
// into one space: a fatal error is one line on standard error and one entry
// in the system log, and dyld spreads the reason a library did not load over
// several lines ("Library not loaded: ...", "  Referenced from: ...",
// "  Reason: tried: ...").
std::string loaderError() {
  const char* text = dlerror();
  std::string line;
  bool folding = false;
  for (const char* c = text ? text : ""; *c != '\0'; ++c) {
    const bool breaks = *c == '\n' || *c == '\r' || *c == '\t';
    if (!breaks) {
      line += *c;
    } else if (!folding) {
      line += ' ';
    }
    folding = breaks;
  }
  return line;
}

Dll::Handle loadLibrary(const std::string& path) {
  // The loader would wait for ever on a named pipe.
  if (FileUtils::isSpecialFile(path)) {
    QUERN_THROW(
        callFailedMessage("dlopen", path, path + ": not a regular file"));
  }
  const Dll::Handle h = dlopen(path.c_str(), RTLD_LAZY);
  if (!h) {
    QUERN_THROW(callFailedMessage("dlopen", path, loaderError()));
  }
  return h;
}

}  // namespace

Dll::Dll(const tstrings::any& libPath)
    : path(libPath.str()), libHandle(loadLibrary(path)) {}

Dll::Dll(const Dll& other) : path(other.path), libHandle(loadLibrary(path)) {}

Dll::~Dll() {
  const Handle h = libHandle;
  libHandle = nullptr;
  freeLibrary(h);
}

void* Dll::getFunction(const std::string& name, bool throwIfNotFound) const {
  // Clear any stale loader error so that the text reported is this lookup's.
  dlerror();
  void* const addr = dlsym(libHandle, name.c_str());
  if (!addr && throwIfNotFound) {
    QUERN_THROW(callFailedMessage("dlsym", path + ", " + name, loaderError()));
  }
  return addr;
}

void Dll::freeLibrary(Handle h) {
  if (h) {
    dlclose(h);
  }
}
