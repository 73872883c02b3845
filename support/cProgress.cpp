#include "support/cProgress.h"

#include <time.h>

std::atomic<int64_t> cProgress::sMarks[cProgress::kWatched];

int64_t cProgress::nowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int cProgress::stuck(int64_t now, int64_t limitMs, int64_t* stuckMs) {
  for (int w = 0; w < kWatched; ++w) {
    int64_t mark = sMarks[w].load(std::memory_order_relaxed);
    if (mark == 0 || now - mark <= limitMs) continue;
    *stuckMs = now - mark;
    return w;
  }
  return -1;
}

const char* cProgress::name(int w) {
  static const char* const kNames[kWatched] = {"the link state thread",
                                               "the serial write of a message to the module"};
  return w >= 0 && w < kWatched ? kNames[w] : "?";
}
