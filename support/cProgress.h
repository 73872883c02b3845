#pragma once

#include <atomic>
#include <cstdint>

// Progress marks of the threads that must keep moving, for the service watchdog. A watched
// thread marks every step it completes (one relaxed store); the main tick asks whether one of
// them has been stuck longer than a limit. Process-wide; CLOCK_MONOTONIC milliseconds.
class cProgress {
 public:
  enum Watched {
    kLinkState,   // the link state thread: its tick and every step of an AT transaction
    kSouthRelay,  // a message to the module on its way out: every segment handed over
    kWatched
  };

  // Progress now: the thread is to be heard of again within the limit.
  static void mark(Watched w) { sMarks[w].store(nowMs(), std::memory_order_relaxed); }
  // The thread waits for nothing that must come (a relay has ended): not watched until marked.
  static void clear(Watched w) { sMarks[w].store(0, std::memory_order_relaxed); }
  // The first watched thread whose last mark is older than limitMs at nowMs, or -1; its age in
  // *stuckMs.
  static int stuck(int64_t now, int64_t limitMs, int64_t* stuckMs);
  static const char* name(int w);
  static int64_t nowMs();

 private:
  static std::atomic<int64_t> sMarks[kWatched];  // 0: not watched
};
