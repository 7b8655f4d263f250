/* A stand-in for the four CoreFoundation functions of the launcher's error
 * alert, built as libCoreFoundation.so; the end-to-end tests put its
 * directory on LD_LIBRARY_PATH. The types are opaque pointers, as in the
 * real framework, and the signatures are the real ones. Like the real
 * function, creating a string from bytes that are not UTF-8 fails.
 *
 * It appends what happens to the file named by CF_STANDIN_RECORD, one line
 * an event, fields separated by tabs:
 *
 *   loaded
 *   alert <timeout> <flags> <header> <message> <default> <alternate> <other>
 *   unloaded <strings created and not released>
 *
 * with a null string as "(null)", and a backslash, tab and newline as "\\",
 * "\t" and "\n". Other variables steer it:
 *
 *   CF_STANDIN_FAIL=1       the alert function fails (returns -1)
 *   CF_STANDIN_SLEEP_MS=n   the alert takes n milliseconds, as a user who
 *                           answers late; never longer than its time-out
 *   CF_STANDIN_MARK=1       the alert writes "[alert]" and a line feed to
 *                           standard error, to show where it came
 *
 * Built with CF_STANDIN_WITHOUT_ALERT, it lacks the alert function.
 */

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "RecordLine.h"

typedef const void* CFTypeRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFURL* CFURLRef;
typedef double CFTimeInterval;
typedef unsigned long CFOptionFlags;
typedef long CFIndex;
typedef uint32_t CFStringEncoding;
typedef unsigned char Boolean;

struct __CFString {
  size_t size;
  char bytes[];
};

static const CFStringEncoding utf8Encoding = 0x08000100;
static long liveStrings;

static void record(const char* line, size_t size) {
  const char* path = getenv("CF_STANDIN_RECORD");
  const int fd =
      path && *path ? open(path, O_WRONLY | O_CREAT | O_APPEND, 0644) : -1;
  if (fd >= 0) {
    if (write(fd, line, size) != (ssize_t)size) {
      abort();
    }
    close(fd);
  }
}

__attribute__((constructor)) static void loaded(void) { record("loaded\n", 7); }

__attribute__((destructor)) static void unloaded(void) {
  char line[64];
  record(line,
         (size_t)snprintf(line, sizeof line, "unloaded\t%ld\n", liveStrings));
}

/* Whether the bytes are UTF-8: no overlong form, surrogate or value past
 * U+10FFFF. */
static int isUtf8(const unsigned char* s, size_t n) {
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    int need = b < 0x80                 ? 0
               : b >= 0xc2 && b <= 0xdf ? 1
               : b >= 0xe0 && b <= 0xef ? 2
               : b >= 0xf0 && b <= 0xf4 ? 3
                                        : -1;
    if (need < 0 || n - i - 1 < (size_t)need) {
      return 0;
    }
    const unsigned char low = b == 0xe0 ? 0xa0 : b == 0xf0 ? 0x90 : 0x80;
    const unsigned char high = b == 0xed ? 0x9f : b == 0xf4 ? 0x8f : 0xbf;
    for (int k = 1; k <= need; ++k) {
      const unsigned char c = s[i + k];
      if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xbf)) {
        return 0;
      }
    }
    i += (size_t)need + 1;
  }
  return 1;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const uint8_t* bytes,
                                    CFIndex numBytes, CFStringEncoding encoding,
                                    Boolean isExternalRepresentation) {
  (void)alloc;
  if (encoding != utf8Encoding || isExternalRepresentation || numBytes < 0 ||
      !isUtf8(bytes, (size_t)numBytes)) {
    return NULL;
  }
  struct __CFString* string = malloc(sizeof *string + (size_t)numBytes);
  if (!string) {
    return NULL;
  }
  string->size = (size_t)numBytes;
  memcpy(string->bytes, bytes, (size_t)numBytes);
  ++liveStrings;
  return string;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char* cStr,
                                      CFStringEncoding encoding) {
  return CFStringCreateWithBytes(alloc, (const uint8_t*)cStr,
                                 (CFIndex)strlen(cStr), encoding, 0);
}

void CFRelease(CFTypeRef cf) {
  if (!cf) {
    abort(); /* as the real one does */
  }
  free((void*)cf);
  --liveStrings;
}

#ifndef CF_STANDIN_WITHOUT_ALERT

static void lineField(Line* line, CFStringRef string) {
  lineAppend(line, "\t", 1);
  if (!string) {
    lineAppend(line, "(null)", 6);
    return;
  }
  for (size_t i = 0; i != string->size; ++i) {
    const char c = string->bytes[i];
    const char* escaped = c == '\\'   ? "\\\\"
                          : c == '\t' ? "\\t"
                          : c == '\n' ? "\\n"
                                      : NULL;
    lineAppend(line, escaped ? escaped : &c, escaped ? 2 : 1);
  }
}

int32_t CFUserNotificationDisplayAlert(
    CFTimeInterval timeout, CFOptionFlags flags, CFURLRef iconURL,
    CFURLRef soundURL, CFURLRef localizationURL, CFStringRef alertHeader,
    CFStringRef alertMessage, CFStringRef defaultButtonTitle,
    CFStringRef alternateButtonTitle, CFStringRef otherButtonTitle,
    CFOptionFlags* responseFlags) {
  (void)iconURL;
  (void)soundURL;
  (void)localizationURL;
  char numbers[64];
  Line line = {NULL, 0};
  lineAppend(&line, numbers,
             (size_t)snprintf(numbers, sizeof numbers, "alert\t%g\t%lu",
                              timeout, flags));
  lineField(&line, alertHeader);
  lineField(&line, alertMessage);
  lineField(&line, defaultButtonTitle);
  lineField(&line, alternateButtonTitle);
  lineField(&line, otherButtonTitle);
  lineAppend(&line, "\n", 1);
  record(line.data, line.size);
  free(line.data);

  const char* sleepMs = getenv("CF_STANDIN_SLEEP_MS");
  if (sleepMs && *sleepMs) {
    double seconds = atof(sleepMs) / 1000;
    seconds = seconds < timeout ? seconds : timeout;
    const struct timespec pause = {(time_t)seconds,
                                   (long)((seconds - (time_t)seconds) * 1e9)};
    nanosleep(&pause, NULL);
  }
  const char* mark = getenv("CF_STANDIN_MARK");
  if (mark && strcmp(mark, "1") == 0 && write(2, "[alert]\n", 8) != 8) {
    abort();
  }
  if (responseFlags) {
    *responseFlags = 0; /* the default button */
  }
  const char* fail = getenv("CF_STANDIN_FAIL");
  return fail && strcmp(fail, "1") == 0 ? -1 : 0;
}

#endif
