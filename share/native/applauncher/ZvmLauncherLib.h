/* The flat hand-over to the runtime: three functions with unmangled names,
 * exported from the launcher executable, that use only the C library.
 *
 * zvmLauncherCreateZvmlLauncherData turns an opaque handle into one
 * self-contained malloc block (ZvmlLauncherData) through a table of three
 * callbacks; zvmLauncherStartZvm sets the block's environment entries and
 * calls the runtime's ZLI_Launch with its argument vector.
 *
 * Block layout: the 40-byte header below, then with no padding anywhere the
 * library path, the argument pointer array (argc + 1 entries, the last
 * null), the argument strings, the name pointer array (envCount entries),
 * the names, the value pointer array (envCount entries) and the values. The
 * pointer arrays are usually not aligned: read and write them with memcpy.
 */

#ifndef ZVMLAUNCHERLIB_H
#define ZVMLAUNCHERLIB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  char* libPath;    /* offset 0: always the block's address + 40 */
  int32_t argc;     /* offset 8 */
  int32_t envCount; /* offset 12 */
  char** argv;      /* offset 16 */
  char** envNames;  /* offset 24 */
  char** envValues; /* offset 32 */
} ZvmlLauncherData;

typedef struct {
  /* Destroys the data behind the handle; null is ignored. */
  void (*closeHandle)(void* handle);
  /* The block's size in bytes, or -1. */
  int (*getZvmlLauncherDataSize)(void* handle);
  /* Fills `buffer` of `bufferSize` bytes as a block and returns it, or
   * returns null. */
  void* (*initZvmlLauncherData)(void* handle, void* buffer, int bufferSize);
} ZvmlLauncherCallbacks;

/* The runtime's entry point, with its 14 arguments. */
typedef int (*ZliLaunchFunc)(int argc, char** argv, int count1,
                             const char** list1, int count2, const char** list2,
                             const char* text1, const char* text2,
                             const char* text3, const char* text4,
                             unsigned char flag1, unsigned char flag2,
                             unsigned char flag3, int mode);

/* Returns a block that the caller releases with free(), or null. A null
 * handle returns null without calling back; any other handle is closed
 * exactly once. The block's size is stored through `size` when that is not
 * null. */
ZvmlLauncherData* zvmLauncherCreateZvmlLauncherData(
    const ZvmlLauncherCallbacks* callbacks, void* handle, int32_t* size);

/* Sets the block's environment entries (later entries win; a variable that
 * already has the entry's value is not written) and returns what ZLI_Launch
 * at `zliLaunch` returns; -1 without calling it for a null block or entry
 * point. */
int zvmLauncherStartZvm(ZvmlLauncherData* data, void* zliLaunch);

/* With QUERN_DEBUG exactly "true": prints "<file base name>:<line>: " and
 * the formatted text to standard error, then a newline. */
void zvmLauncherLog(const char* fileName, int lineNum, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif /* ZVMLAUNCHERLIB_H */
