#pragma once

#include <pthread.h>
#include <time.h>

// A condition variable whose timed waits take CLOCK_MONOTONIC deadlines, so a change of the
// wall clock neither stretches nor cuts a wait.
inline void initMonotonicCond(pthread_cond_t* cond) {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(cond, &attr);
  pthread_condattr_destroy(&attr);
}
