// The one dyld query the launcher uses, for the Linux development host.

#ifndef MACH_O_DYLD_H
#define MACH_O_DYLD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Copies the absolute path the executable was started by (links not
// resolved), zero-terminated, into `buf` and returns 0. When `*bufsize` is
// too small (or `buf` is null) it stores the size needed, terminating zero
// included, and returns -1.
int _NSGetExecutablePath(char* buf, uint32_t* bufsize);

#ifdef __cplusplus
}
#endif

#endif  // MACH_O_DYLD_H
