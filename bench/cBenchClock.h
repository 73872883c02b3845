#pragma once

#include <time.h>

// CLOCK_MONOTONIC seconds of this process: the one time base of every record the simulated
// board and the tests keep.
inline double benchNow() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
