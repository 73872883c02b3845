#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// The daemon's counters of relayed and dropped data, per direction, in one process-wide table of
// relaxed atomics: counting costs one relaxed increment and takes no lock. An instance keeps the
// state of the periodic summary line for the one thread that logs it.
class cStats {
 public:
  enum Dir {
    kSouth,  // broker to module
    kNorth,  // module to broker
    kDirs
  };
  enum Counter {
    kMessages,        // whole messages relayed
    kBytes,           // their payload bytes
    kInvalidUnits,    // datagrams or frames that are not valid segments
    kStalePartials,   // partial messages dropped because a new message started
    kLostStarts,      // segments whose message start was lost
    kOutOfOrder,      // segments out of order (the partial message is dropped with them)
    kOversize,        // messages that would exceed 65,535 bytes
    kBadFcs,          // frames with a bad check sequence (north)
    kOversizeFrames,  // frames longer than the decoder holds (north)
    kAbortedFrames,   // frames aborted by the sender (0x7D 0x7E) (north)
    kCommandMode,     // segments for the module while it is in command mode (south)
    kFailedWrites,    // serial writes (south) or datagram sends (north) that failed
    kOutOfMemory,     // units of work dropped for lack of memory
    kOverflow,        // datagrams the kernel dropped, the socket's buffer full (south)
    kCounters
  };

  static void add(Dir dir, Counter counter, uint64_t n = 1) {
    sCounters[dir][counter].fetch_add(n, std::memory_order_relaxed);
  }
  static uint64_t get(Dir dir, Counter counter) {
    return sCounters[dir][counter].load(std::memory_order_relaxed);
  }
  // Everything of one direction dropped, for whatever reason: every counter but messages and
  // bytes.
  static uint64_t dropped(Dir dir);
  static void addAtTimeout() { sAtTimeouts.fetch_add(1, std::memory_order_relaxed); }
  static uint64_t atTimeouts() { return sAtTimeouts.load(std::memory_order_relaxed); }

  // The summary: every counter since start, for example
  // "Counters: south messages=3 bytes=120 invalid=0 ... ; north messages=2 ... ; at-timeouts=0".
  static std::string summary();
  // The counter's name in the summary ("invalid", "bad-fcs"): the one name every report uses.
  static const char* name(Counter counter);

  // A summary every intervalSeconds from startSeconds on; 0 (or less) turns it off.
  cStats(int intervalSeconds, int64_t startSeconds);
  // Called from a thread's regular tick with the same clock's seconds: true, with the summary in
  // *line, when intervalSeconds have passed since the last summary (or the start) and a counter
  // changed since the last summary.
  bool due(int64_t nowSeconds, std::string* line);
  int interval() const { return mInterval; }

 private:
  static uint64_t fingerprint();

  static std::atomic<uint64_t> sCounters[kDirs][kCounters];
  static std::atomic<uint64_t> sAtTimeouts;

  int mInterval;
  int64_t mLast;        // seconds of the last summary (or of the start)
  uint64_t mLastPrint;  // fingerprint of the counters at the last summary
};
