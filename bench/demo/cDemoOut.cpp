#include "bench/demo/cDemoOut.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace cDemoOut {

namespace {
std::mutex gMutex;
}

void print(const char* format, ...) {
  std::lock_guard<std::mutex> lock(gMutex);
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fflush(stdout);
}

}  // namespace cDemoOut
