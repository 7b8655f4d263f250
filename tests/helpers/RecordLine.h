/* One record line of the test recorders, grown as its fields are appended. */

#ifndef RECORDLINE_H
#define RECORDLINE_H

#include <stdlib.h>
#include <string.h>

typedef struct {
  char* data;
  size_t size;
} Line;

static inline void lineAppend(Line* line, const char* s, size_t n) {
  char* grown = realloc(line->data, line->size + n + 1);
  if (!grown) {
    abort();
  }
  memcpy(grown + line->size, s, n);
  line->data = grown;
  line->size += n;
}

#endif /* RECORDLINE_H */
