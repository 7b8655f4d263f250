// The executable-path query of dyld, on Linux: the path the program was
// started by (the kernel records it at exec), made absolute as dyld makes it
// on macOS: a relative path is joined to the current directory, a leading
// "./" dropped (macOS 12 and later), links not resolved. The launcher asks
// before it could change directory, so the current directory is the one it
// was started in. Without a current directory the path stays as started.

#include <mach-o/dyld.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <unistd.h>

int _NSGetExecutablePath(char* buf, uint32_t* bufsize) {
  const char* path = (const char*)getauxval(AT_EXECFN);
  if (!path) {
    return 1;
  }
  char* cwd = NULL;
  if (path[0] != '/') {
    cwd = getcwd(NULL, 0);
    if (cwd && strncmp(path, "./", 2) == 0) {
      path += 2;
    }
  }
  const size_t cwdSize = cwd ? strlen(cwd) : 0;
  // The root as current directory gives no doubled slash.
  const int slash = cwdSize > 0 && cwd[cwdSize - 1] != '/';
  const size_t needed = cwdSize + slash + strlen(path) + 1;
  int status = 0;
  if (!buf || *bufsize < needed) {
    *bufsize = (uint32_t)needed;
    status = -1;
  } else {
    memcpy(buf, cwd ? cwd : "", cwdSize);
    memcpy(buf + cwdSize, "/", slash);
    memcpy(buf + cwdSize + slash, path, strlen(path) + 1);
  }
  free(cwd);
  return status;
}
