#include "ZvmLauncherLib.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define ZVMLAUNCHER_LOG(...) zvmLauncherLog(__FILE__, __LINE__, __VA_ARGS__)

/* Whether zvmLauncherLog prints. */
static int isDebugLogging(void) {
  const char* debug = getenv("QUERN_DEBUG");
  return debug && strcmp(debug, "true") == 0;
}

/* Whether the variable already has this value. The second pass sets the
 * entries the first pass set while the runtime's main thread may be reading
 * the environment, so an entry already in place is not written again. A name
 * that setenv refuses is never taken as set, so its failure is reported. */
static int isAlreadySet(const char* name, const char* value) {
  if (!*name || strchr(name, '=')) {
    return 0;
  }
  const char* current = getenv(name);
  return current && strcmp(current, value) == 0;
}

static char* entryAt(char** array, int index) {
  char* entry;
  memcpy(&entry, (char*)array + sizeof(char*) * (size_t)index, sizeof entry);
  return entry;
}

ZvmlLauncherData* zvmLauncherCreateZvmlLauncherData(
    const ZvmlLauncherCallbacks* callbacks, void* handle, int32_t* size) {
  if (!handle) {
    return NULL;
  }
  ZvmlLauncherData* result = NULL;
  const int dataSize = callbacks->getZvmlLauncherDataSize(handle);
  if (dataSize > 0) {
    void* buffer = malloc((uint32_t)dataSize);
    if (!buffer) {
      ZVMLAUNCHER_LOG("%s", strerror(errno));
    } else {
      result = (ZvmlLauncherData*)callbacks->initZvmlLauncherData(
          handle, buffer, dataSize);
      if (result) {
        if (size) {
          *size = dataSize;
        }
      } else {
        free(buffer);
      }
    }
  }
  callbacks->closeHandle(handle);
  return result;
}

int zvmLauncherStartZvm(ZvmlLauncherData* data, void* zliLaunch) {
  if (!data || !zliLaunch) {
    return -1;
  }
  /* Asked once, not once for each of what may be many thousands of lines. */
  const int debug = isDebugLogging();
  ZVMLAUNCHER_LOG("zli lib: [%s]", data->libPath);
  for (int i = 0; debug && i < data->argc; i++) {
    ZVMLAUNCHER_LOG("zli arg[%d]: [%s]", i, entryAt(data->argv, i));
  }
  if (data->envCount > 0) {
    for (int i = 0; debug && i < data->envCount; i++) {
      ZVMLAUNCHER_LOG("env var[%d]: %s=[%s]", i, entryAt(data->envNames, i),
                      entryAt(data->envValues, i));
    }
    for (int i = 0; i < data->envCount; i++) {
      const char* name = entryAt(data->envNames, i);
      const char* value = entryAt(data->envValues, i);
      if (!isAlreadySet(name, value) && setenv(name, value, 1)) {
        ZVMLAUNCHER_LOG("setenv(%d) failed", i);
      }
    }
  }

  static const char emptyText[] = "";
  static const char programName[] = "zeal";
  ZliLaunchFunc launch;
  memcpy(&launch, &zliLaunch, sizeof launch);
  return launch(data->argc, data->argv, 0, NULL, 0, NULL, emptyText, emptyText,
                programName, programName, 0, 0, 0, 0);
}

void zvmLauncherLog(const char* fileName, int lineNum, const char* format,
                    ...) {
  if (!isDebugLogging()) {
    return;
  }
  const char* baseName = strrchr(fileName, '/');
  baseName = baseName ? baseName + 1 : fileName;
  fprintf(stderr, "%s:%d: ", baseName, lineNum);
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}
