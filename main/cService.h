#pragma once

#include <cstdint>
#include <string>

#include "support/cYlog.h"

// The daemon's side of the service manager's notification protocol (sd_notify): readiness once
// the components exist, a short status line (link state, relayed and dropped messages) and, when
// the unit sets a watchdog, a ping from the main tick while every watched thread makes progress
// (support/cProgress). A thread stuck longer than two thirds of the watchdog time ends the pings
// and asks for the watchdog's action at once. Without NOTIFY_SOCKET nothing is sent.
//
// A notification that could not be sent (no socket yet, a full queue) is owed: READY=1, the
// current status, a ping or the watchdog's trigger go out at the next tick, and every tick after
// it, until one goes through.
//
// Also serves SIGUSR1: the counters line is logged at once, from the main thread. SIGPIPE is
// ignored process-wide: a closed pipe or FIFO (the log's output, the trace) fails the write
// instead of ending the daemon.
class cService : public cYlog {
 public:
  // Ignores SIGPIPE, installs the SIGUSR1 handler and blocks the signal in the calling thread
  // (the main thread, before it starts any other): the threads it starts inherit the block, so
  // the signal reaches the main thread and cuts its tick's wait short.
  cService();
  // The components exist: lets SIGUSR1 in and says READY=1 with the first status.
  void ready();
  // From the main tick: the counters line when asked for, the status when it changed, the
  // watchdog ping when due.
  void tick();

  // The link state thread is silent for up to one 10-second wait plus a serial write: a shorter
  // limit would stop a healthy daemon.
  static constexpr int64_t kMinStallMs = 15000;
  // Ping every quarter of the watchdog time; a thread is stuck after two thirds of it (at least
  // kMinStallMs).
  static int64_t pingEveryMs(uint64_t watchdogUsec) { return watchdogUsec / 4000; }
  static int64_t stallLimitMs(uint64_t watchdogUsec);

 private:
  static void serveRequests();
  std::string status(std::string* linkPart) const;
  void checkWatchdog(int64_t now);
  void addStatus(int64_t now);
  void sendOwed();

  bool mNotify;            // NOTIFY_SOCKET is set
  uint64_t mWatchdogUsec;  // 0: no watchdog
  int64_t mLastPingMs;
  int64_t mLastStatusMs;
  std::string mLastStatus;
  std::string mLastLink;
  bool mStalled;
  // Not yet delivered: READY=1, mLastStatus, a ping, the watchdog's trigger (mTrigger's text).
  bool mReadyOwed;
  bool mStatusOwed;
  bool mPingOwed;
  std::string mTrigger;
  bool mNotifyFailing;
};
