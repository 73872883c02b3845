#pragma once

#include "support/YMsg.h"
#include "support/cLogLimit.h"
#include "support/cYlog.h"

// Puts messages back together from segments, one partial message at a time. Serves both
// directions (broker to module, module to broker); each direction owns one instance and uses it
// from one thread only. Log lines go to the owner's logger and name the direction: "broker to
// module" gives warnings such as "From broker to module: invalid segment of 3 bytes dropped".
class cReassembler {
 public:
  cReassembler(const cYlog& log, const char* direction);
  ~cReassembler();
  cReassembler(const cReassembler&) = delete;
  cReassembler& operator=(const cReassembler&) = delete;

  // Feeds one received unit (a datagram or a frame). Returns a complete message, owned by the
  // caller, or null while nothing is complete. Invalid units are dropped with a warning (at most
  // kWarningsPerMinute a minute; the rest are counted in the next one).
  YMsg* onUnit(const unsigned char* data, int length);

  bool hasPending() const { return mPendingMsg != nullptr; }

  static constexpr int kWarningsPerMinute = 10;

 private:
  void dropPending(const char* why);
  void report(const char* what);

  const cYlog& mLog;
  const char* mDirection;
  YMsg* mPendingMsg;
  int mNextIndex;
  cLogLimit mLimit;
};
