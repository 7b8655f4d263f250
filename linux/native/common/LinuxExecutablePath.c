// The executable-path query of dyld, on Linux: the path the kernel recorded
// at exec, as the caller of exec gave it (possibly relative, links not
// resolved), which is what dyld reports on macOS.

#include <mach-o/dyld.h>
#include <string.h>
#include <sys/auxv.h>

int _NSGetExecutablePath(char* buf, uint32_t* bufsize) {
  const char* path = (const char*)getauxval(AT_EXECFN);
  if (!path) {
    return 1;
  }
  const size_t needed = strlen(path) + 1;
  if (!buf || *bufsize < needed) {
    *bufsize = (uint32_t)needed;
    return -1;
  }
  memcpy(buf, path, needed);
  return 0;
}
