#include "ferrycat/cCat.h"

#include <cstdarg>
#include <cstdio>

int cCat::fail(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  fputs("ferrycat: ", stderr);
  vfprintf(stderr, fmt, args);
  fputc('\n', stderr);
  va_end(args);
  return kFailure;
}

int cCat::usage(const char* command, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  fprintf(stderr, "ferrycat %s: ", command);
  vfprintf(stderr, fmt, args);
  fprintf(stderr, "\nTry 'ferrycat %s --help'.\n", command);
  va_end(args);
  return kUsage;
}
