/* A stand-in for the runtime's launcher library, built as libzli.dylib.
 *
 * Its ZLI_Launch accepts the 14 arguments the launcher passes, reports what
 * it received and returns a chosen status. It is steered by environment
 * variables of its own:
 *
 *   ZLI_STANDIN_RECORD=<file>  append the report to <file> instead of
 *                              printing it on standard output
 *   ZLI_STANDIN_QUIET=1        report nothing and return at once
 *   ZLI_STANDIN_ENV=<A:B:...>  the environment entries to report
 *                              (default: DYLD_LIBRARY_PATH)
 *   ZLI_STANDIN_STATUS=<n>     the status to return (default 0)
 *   ZLI_STANDIN_REENTER=1      on the first call, call the process's main
 *                              again on a new thread, wait for it, and
 *                              report what it returned; as the real runtime
 *                              does on macOS
 *   ZLI_STANDIN_BEFORE_REENTER_UNLINK=<A:B:...>
 *                              with ZLI_STANDIN_REENTER=1, remove these files
 *                              before main is called again, so that a test
 *                              can show that the second pass reads none of
 *                              them
 *   ZLI_STANDIN_BUSY=1         with ZLI_STANDIN_REENTER=1, keep the first
 *                              call working while main runs again, as the
 *                              real runtime's main thread does: it reads
 *                              the whole environment and calls the
 *                              launcher's exported zvmLauncherLog, round
 *                              after round, until main returns; the second
 *                              call waits until a round has begun after it
 *                              was entered, so the two always overlap
 *
 * A report reads, one item a line:
 *
 *   call <n>
 *   argc <n>
 *   argv[<i>] <argument>
 *   extra <arguments 3 to 14>
 *   env <NAME>=<value>   or   env <NAME> unset
 *   end
 *
 * and, after a re-entry, "reentry status <n>". Text is printed as it is,
 * except a backslash as "\\", newline, tab and carriage return as "\n", "\t"
 * and "\r", and other control bytes and bytes from 127 on as "\xHH"; every
 * report line is therefore one line, whatever the bytes.
 */

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

typedef struct {
  char* data;
  size_t size;
  size_t capacity;
} Text;

static void textAppend(Text* t, const char* s, size_t n) {
  if (t->size + n + 1 > t->capacity) {
    size_t capacity = t->capacity ? t->capacity : 4096;
    while (t->size + n + 1 > capacity) {
      capacity *= 2;
    }
    char* grown = realloc(t->data, capacity);
    if (!grown) {
      abort();
    }
    t->data = grown;
    t->capacity = capacity;
  }
  memcpy(t->data + t->size, s, n);
  t->size += n;
  t->data[t->size] = 0;
}

static void textPuts(Text* t, const char* s) { textAppend(t, s, strlen(s)); }

static void textPrintf(Text* t, const char* format, long long value) {
  char buffer[64];
  const int n = snprintf(buffer, sizeof buffer, format, value);
  textAppend(t, buffer, (size_t)n);
}

static void textEscaped(Text* t, const char* s) {
  if (!s) {
    textPuts(t, "(null)");
    return;
  }
  for (const unsigned char* p = (const unsigned char*)s; *p; ++p) {
    char buffer[8];
    switch (*p) {
      case '\\':
        textPuts(t, "\\\\");
        break;
      case '\n':
        textPuts(t, "\\n");
        break;
      case '\t':
        textPuts(t, "\\t");
        break;
      case '\r':
        textPuts(t, "\\r");
        break;
      default:
        if (*p < 0x20 || *p >= 0x7f) {
          snprintf(buffer, sizeof buffer, "\\x%02X", *p);
          textPuts(t, buffer);
        } else {
          textAppend(t, (const char*)p, 1);
        }
    }
  }
}

/* The argument array is packed without alignment by the launcher. */
static char* entryAt(char** array, int index) {
  char* entry;
  memcpy(&entry, (char*)array + sizeof(char*) * (size_t)index, sizeof entry);
  return entry;
}

static void emit(const Text* t) {
  const char* path = getenv("ZLI_STANDIN_RECORD");
  if (path && *path) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      size_t done = 0;
      while (done < t->size) {
        const ssize_t n = write(fd, t->data + done, t->size - done);
        if (n <= 0) {
          break;
        }
        done += (size_t)n;
      }
      close(fd);
    }
  } else {
    fwrite(t->data, 1, t->size, stdout);
    fflush(stdout);
  }
}

static void reportEnvironment(Text* t) {
  const char* names = getenv("ZLI_STANDIN_ENV");
  if (!names) {
    names = "DYLD_LIBRARY_PATH";
  }
  const char* start = names;
  while (*start) {
    const char* end = strchr(start, ':');
    const size_t length = end ? (size_t)(end - start) : strlen(start);
    char* name = strndup(start, length);
    if (name && *name) {
      const char* value = getenv(name);
      textPuts(t, "env ");
      textEscaped(t, name);
      if (value) {
        textPuts(t, "=");
        textEscaped(t, value);
        textPuts(t, "\n");
      } else {
        textPuts(t, " unset\n");
      }
    }
    free(name);
    if (!end) {
      break;
    }
    start = end + 1;
  }
}

typedef struct {
  int argc;
  char** argv;
  int status;
  atomic_int returned;
} MainCall;

static void* callMain(void* arg) {
  MainCall* call = (MainCall*)arg;
  int (*mainFunction)(int, char**);
  void* address = dlsym(RTLD_DEFAULT, "main");
  if (!address) {
    call->status = -1;
  } else {
    memcpy(&mainFunction, &address, sizeof mainFunction);
    call->status = mainFunction(call->argc, call->argv);
  }
  atomic_store(&call->returned, 1);
  return NULL;
}

extern char** environ;

typedef void (*LauncherLogFunc)(const char* fileName, int lineNum,
                                const char* format, ...);

/* Set while a first call keeps busy; counts the rounds it has finished. */
static atomic_int busy;
static atomic_int busyRounds;

static void pauseBriefly(void) {
  const struct timespec pause = {0, 1000000};
  nanosleep(&pause, NULL);
}

/* ZLI_STANDIN_BUSY: what the first call does while main runs again. */
static void keepBusy(MainCall* call) {
  LauncherLogFunc launcherLog = NULL;
  void* address = dlsym(RTLD_DEFAULT, "zvmLauncherLog");
  if (address) {
    memcpy(&launcherLog, &address, sizeof launcherLog);
  }
  do {
    size_t entries = 0;
    size_t bytes = 0;
    for (char** entry = environ; entry && *entry; ++entry) {
      bytes += strlen(*entry);
      ++entries;
    }
    if (launcherLog) {
      launcherLog(__FILE__, __LINE__,
                  "stand-in busy: round %d, %zu environment entries, %zu "
                  "bytes",
                  atomic_load(&busyRounds), entries, bytes);
    }
    atomic_fetch_add(&busyRounds, 1);
    pauseBriefly();
  } while (!atomic_load(&call->returned));
}

/* A call made while a first call keeps busy returns only after a whole round
 * of it has run since. */
static void overlapBusyRound(void) {
  if (!atomic_load(&busy)) {
    return;
  }
  const int seen = atomic_load(&busyRounds);
  while (atomic_load(&busyRounds) < seen + 2) {
    pauseBriefly();
  }
}

static void unlinkBeforeReentry(void) {
  const char* paths = getenv("ZLI_STANDIN_BEFORE_REENTER_UNLINK");
  if (!paths) {
    return;
  }
  const char* start = paths;
  for (;;) {
    const char* end = strchr(start, ':');
    const size_t length = end ? (size_t)(end - start) : strlen(start);
    char* path = strndup(start, length);
    if (path && *path) {
      unlink(path);
    }
    free(path);
    if (!end) {
      break;
    }
    start = end + 1;
  }
}

static atomic_int calls;

__attribute__((visibility("default"))) int ZLI_Launch(
    int argc, char** argv, int count1, const char** list1, int count2,
    const char** list2, const char* text1, const char* text2, const char* text3,
    const char* text4, unsigned char flag1, unsigned char flag2,
    unsigned char flag3, int mode) {
  const int call = atomic_fetch_add(&calls, 1) + 1;
  if (call > 1) {
    overlapBusyRound();
  }
  const char* quiet = getenv("ZLI_STANDIN_QUIET");
  const char* status = getenv("ZLI_STANDIN_STATUS");
  const int result = status ? atoi(status) : 0;
  if (quiet && strcmp(quiet, "1") == 0) {
    return result;
  }

  Text t = {NULL, 0, 0};
  textPrintf(&t, "call %lld\n", call);
  textPrintf(&t, "argc %lld\n", argc);
  for (int i = 0; i < argc; i++) {
    textPrintf(&t, "argv[%lld] ", i);
    textEscaped(&t, entryAt(argv, i));
    textPuts(&t, "\n");
  }
  textPrintf(&t, "extra %lld", count1);
  textPuts(&t, list1 ? " list" : " null");
  textPrintf(&t, " %lld", count2);
  textPuts(&t, list2 ? " list \"" : " null \"");
  textEscaped(&t, text1);
  textPuts(&t, "\" \"");
  textEscaped(&t, text2);
  textPuts(&t, "\" \"");
  textEscaped(&t, text3);
  textPuts(&t, "\" \"");
  textEscaped(&t, text4);
  textPrintf(&t, "\" %lld", flag1);
  textPrintf(&t, " %lld", flag2);
  textPrintf(&t, " %lld", flag3);
  textPrintf(&t, " %lld\n", mode);
  reportEnvironment(&t);
  textPuts(&t, "end\n");
  emit(&t);
  t.size = 0;

  const char* reenter = getenv("ZLI_STANDIN_REENTER");
  if (call == 1 && reenter && strcmp(reenter, "1") == 0) {
    const char* keepsBusy = getenv("ZLI_STANDIN_BUSY");
    unlinkBeforeReentry();
    MainCall mainCall = {argc, argv, 0, 0};
    pthread_t thread;
    if (keepsBusy && strcmp(keepsBusy, "1") == 0) {
      atomic_store(&busy, 1);
    }
    if (pthread_create(&thread, NULL, callMain, &mainCall) != 0) {
      mainCall.status = -2;
    } else {
      if (atomic_load(&busy)) {
        keepBusy(&mainCall);
      }
      pthread_join(thread, NULL);
    }
    atomic_store(&busy, 0);
    textPrintf(&t, "reentry status %lld\n", mainCall.status);
    emit(&t);
  }
  free(t.data);
  return result;
}
