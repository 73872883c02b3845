#pragma once

#include "support/YMsg.h"
#include "support/cLogLimit.h"
#include "support/cLogSink.h"
#include "support/cStats.h"

// Puts messages back together from segments, one partial message at a time. Serves both
// directions (broker to module, module to broker); each direction owns one instance and uses it
// from one thread only. Log lines go to the owner's log sink and name the direction: "broker to
// module" gives warnings such as "From broker to module: invalid segment of 3 bytes dropped".
// Every drop is counted in cStats under the direction given (none without one).
class cReassembler {
 public:
  cReassembler(const cLogSink& log, const char* direction);
  cReassembler(const cLogSink& log, const char* direction, cStats::Dir counted);
  ~cReassembler();
  cReassembler(const cReassembler&) = delete;
  cReassembler& operator=(const cReassembler&) = delete;

  // Feeds one received unit (a datagram or a frame). Returns a complete message, owned by the
  // caller, or null while nothing is complete. Invalid units are dropped with a warning (at most
  // kWarningsPerMinute a minute; the next one says how many were held back); a unit that cannot
  // be handled for lack of memory is dropped with an error line.
  YMsg* onUnit(const unsigned char* data, int length);

  // Drops a unit that cannot be a segment whatever its bytes, counted and warned as invalid; why
  // (may be empty) is added to the line.
  void dropInvalid(int length, const char* why);

  bool hasPending() const { return mPendingMsg != nullptr; }
  // Forgets the partial message without a drop (its line went away).
  void reset();

  // Also reports every drop, as it happens, to report(context, reason, id, length) with the
  // counter that counts it (kInvalidUnits, kStalePartials, kLostStarts, kOutOfOrder, kOversize,
  // kOutOfMemory) and what was dropped: for a stale partial message its id and the payload bytes
  // it had collected; otherwise the unit's length and its message id, or -1 when the unit has no
  // valid header (invalid, or out of memory before its header was read).
  using cDropReport = void (*)(void* context, cStats::Counter reason, int id, int length);
  void reportDropsTo(cDropReport report, void* context) {
    mReport = report;
    mReportContext = context;
  }

  static constexpr int kWarningsPerMinute = 10;

 private:
  YMsg* take(const YMsg::cHeader& h, const unsigned char* data, unsigned short length);
  void dropPending(const char* why);
  void count(cStats::Counter counter, int id, int length) const;
  void warn(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));

  const cLogSink& mLog;
  const char* mDirection;
  int mCounted;  // a cStats::Dir, or -1
  YMsg* mPendingMsg;
  int mNextIndex;
  cLogLimit mLimit;
  cDropReport mReport;
  void* mReportContext;
};
