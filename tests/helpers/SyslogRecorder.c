/* A preload library for the end-to-end tests of the system log. It takes
 * the place of the C library's openlog and syslog (and of __syslog_chk,
 * which fortified builds call instead of syslog) and appends every call to
 * the file named by QUERN_SYSLOG_RECORD, one line a call, fields separated
 * by tabs:
 *
 *   openlog <ident> <option> <facility>
 *   syslog <priority> <format> <formatted text>
 *
 * with a null ident as "(null)", and a backslash, tab and newline in any
 * field as "\\", "\t" and "\n". Nothing reaches the real system log.
 *
 * With QUERN_LOADER_TEXT set, dlerror returns that text instead: the macOS
 * loader's texts span lines, the host's never do.
 *
 * The library is built without sanitizers, so that it can follow a
 * sanitizer runtime in LD_PRELOAD.
 */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "RecordLine.h"

static void lineField(Line* line, const char* s) {
  lineAppend(line, "\t", 1);
  for (; *s; ++s) {
    const char* escaped = *s == '\\'   ? "\\\\"
                          : *s == '\t' ? "\\t"
                          : *s == '\n' ? "\\n"
                                       : NULL;
    if (escaped) {
      lineAppend(line, escaped, 2);
    } else {
      lineAppend(line, s, 1);
    }
  }
}

static void lineNumber(Line* line, int value) {
  char buffer[16];
  snprintf(buffer, sizeof buffer, "%d", value);
  lineField(line, buffer);
}

static void record(Line* line) {
  lineAppend(line, "\n", 1);
  const char* path = getenv("QUERN_SYSLOG_RECORD");
  const int fd =
      path && *path ? open(path, O_WRONLY | O_CREAT | O_APPEND, 0644) : -1;
  if (fd >= 0) {
    if (write(fd, line->data, line->size) != (ssize_t)line->size) {
      abort();
    }
    close(fd);
  }
  free(line->data);
}

void openlog(const char* ident, int option, int facility) {
  Line line = {NULL, 0};
  lineAppend(&line, "openlog", 7);
  lineField(&line, ident ? ident : "(null)");
  lineNumber(&line, option);
  lineNumber(&line, facility);
  record(&line);
}

/* Formats exactly as the C library would: a message passed as the format
 * shows here as the wrong format, and one holding "%n" may crash. */
static void recordSyslog(int priority, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int n = vsnprintf(NULL, 0, format, args);
  char* text = malloc(n > 0 ? (size_t)n + 1 : 1);
  if (!text) {
    abort();
  }
  text[0] = 0;
  if (n > 0) {
    vsnprintf(text, (size_t)n + 1, format, again);
  }
  va_end(again);
  Line line = {NULL, 0};
  lineAppend(&line, "syslog", 6);
  lineNumber(&line, priority);
  lineField(&line, format);
  lineField(&line, text);
  free(text);
  record(&line);
}

void syslog(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  recordSyslog(priority, format, args);
  va_end(args);
}

void __syslog_chk(int priority, int flag, const char* format, ...) {
  (void)flag;
  va_list args;
  va_start(args, format);
  recordSyslog(priority, format, args);
  va_end(args);
}

char* dlerror(void) {
  const char* text = getenv("QUERN_LOADER_TEXT");
  if (text) {
    return (char*)text;
  }
  char* (*const next)(void) = (char* (*)(void))dlsym(RTLD_NEXT, "dlerror");
  return next ? next() : NULL;
}
