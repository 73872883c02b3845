#include "support/cStats.h"

#include <cinttypes>
#include <cstdio>

std::atomic<uint64_t> cStats::sCounters[cStats::kDirs][cStats::kCounters];
std::atomic<uint64_t> cStats::sAtTimeouts{0};

namespace {

struct cName {
  cStats::Counter counter;
  const char* name;
  bool south;  // shown for each direction where the counter can move
  bool north;
};

// clang-format off
const cName kNames[] = {
  {cStats::kMessages,       "messages",       true,  true},
  {cStats::kBytes,          "bytes",          true,  true},
  {cStats::kInvalidUnits,   "invalid",        true,  true},
  {cStats::kStalePartials,  "stale",          true,  true},
  {cStats::kLostStarts,     "lost-start",     true,  true},
  {cStats::kOutOfOrder,     "out-of-order",   true,  true},
  {cStats::kOversize,       "oversize",       true,  true},
  {cStats::kBadFcs,         "bad-fcs",        false, true},
  {cStats::kOversizeFrames, "oversize-frame", false, true},
  {cStats::kAbortedFrames,  "aborted-frame",  false, true},
  {cStats::kCommandMode,    "command-mode",   true,  false},
  {cStats::kFailedWrites,   "failed-send",    true,  true},
  {cStats::kOutOfMemory,    "out-of-memory",  true,  true},
  {cStats::kOverflow,       "overflow",       true,  false},
};
// clang-format on

}  // namespace

const char* cStats::name(Counter counter) {
  for (const cName& n : kNames) {
    if (n.counter == counter) return n.name;
  }
  return "?";
}

std::string cStats::summary() {
  std::string out = "Counters:";
  const char* dirNames[kDirs] = {"south", "north"};
  char field[64];
  for (int d = 0; d < kDirs; ++d) {
    out += d == 0 ? " " : "; ";
    out += dirNames[d];
    for (const cName& n : kNames) {
      if (!(d == kSouth ? n.south : n.north)) continue;
      snprintf(field, sizeof field, " %s=%" PRIu64, n.name, get(static_cast<Dir>(d), n.counter));
      out += field;
    }
  }
  snprintf(field, sizeof field, "; at-timeouts=%" PRIu64, atTimeouts());
  out += field;
  return out;
}

// Every counter only grows, so their sum changes whenever one of them does.
uint64_t cStats::fingerprint() {
  uint64_t sum = atTimeouts();
  for (int d = 0; d < kDirs; ++d) {
    for (int c = 0; c < kCounters; ++c) sum += get(static_cast<Dir>(d), static_cast<Counter>(c));
  }
  return sum;
}

cStats::cStats(int intervalSeconds, int64_t startSeconds)
    : mInterval(intervalSeconds), mLast(startSeconds), mLastPrint(0) {}

bool cStats::due(int64_t nowSeconds, std::string* line) {
  if (mInterval <= 0) return false;
  if (nowSeconds - mLast < mInterval) return false;
  mLast = nowSeconds;
  uint64_t print = fingerprint();
  if (print == mLastPrint) return false;
  mLastPrint = print;
  *line = summary();
  return true;
}
