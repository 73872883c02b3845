#include "main/cService.h"

#include <signal.h>
#include <systemd/sd-daemon.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "io/cIO.h"
#include "link/cBTMsg.h"
#include "support/cProgress.h"
#include "support/cStats.h"

namespace {

// The only thing the handler does: a lock-free store is async-signal-safe.
std::atomic<bool> sCountersAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void onCountersSignal(int) {
  sCountersAsked.store(true, std::memory_order_relaxed);
}

// Counters move with every message: the status follows them at most this often (a new link
// state goes out at the next tick).
const int64_t kStatusEveryMs = 10000;

sigset_t usr1Set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

cService::cService()
    : cYlog("cService"),
      mNotify(getenv("NOTIFY_SOCKET") != nullptr),
      mWatchdogUsec(0),
      mLastPingMs(0),
      mLastStatusMs(0),
      mStalled(false),
      mReadyOwed(false),
      mStatusOwed(false),
      mPingOwed(false),
      mNotifyFailing(false) {
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = onCountersSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the tick's poll is to return at once
  sigaction(SIGUSR1, &action, nullptr);
  sigset_t set = usr1Set();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  uint64_t usec = 0;
  if (mNotify && sd_watchdog_enabled(0, &usec) > 0) mWatchdogUsec = usec;
}

int64_t cService::stallLimitMs(uint64_t watchdogUsec) {
  int64_t limit = static_cast<int64_t>(watchdogUsec * 2 / 3000);
  return limit > kMinStallMs ? limit : kMinStallMs;
}

void cService::ready() {
  cIO::setSignalHook(&cService::serveRequests);
  sigset_t set = usr1Set();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // one that came meanwhile is taken now
  if (!mNotify) return;
  if (mWatchdogUsec > 0 &&
      stallLimitMs(mWatchdogUsec) > static_cast<int64_t>(mWatchdogUsec / 1000)) {
    warn("Watchdog: %" PRIu64
         " ms is shorter than a healthy thread may be silent; a stuck thread "
         "is seen after %" PRId64 " ms, pings go every %" PRId64 " ms",
         mWatchdogUsec / 1000, stallLimitMs(mWatchdogUsec), pingEveryMs(mWatchdogUsec));
  } else if (mWatchdogUsec > 0) {
    info("Watchdog: a ping every %" PRId64 " ms while no thread is stuck for over %" PRId64 " ms",
         pingEveryMs(mWatchdogUsec), stallLimitMs(mWatchdogUsec));
  }
  int64_t now = cProgress::nowMs();
  mLastStatus = status(&mLastLink);
  mLastStatusMs = now;
  mLastPingMs = now;
  mReadyOwed = true;
  mStatusOwed = true;
  sendOwed();
}

void cService::serveRequests() {
  if (sCountersAsked.exchange(false, std::memory_order_relaxed)) cBTMsg::logCounters();
}

void cService::tick() {
  serveRequests();
  if (!mNotify) return;
  int64_t now = cProgress::nowMs();
  if (mWatchdogUsec > 0) checkWatchdog(now);
  if (!mStalled) addStatus(now);
  sendOwed();
}

// Once a thread is stuck the pings end for good: the restart is what brings it back.
void cService::checkWatchdog(int64_t now) {
  if (mStalled) return;
  int64_t stuckMs = 0;
  int which = cProgress::stuck(now, stallLimitMs(mWatchdogUsec), &stuckMs);
  if (which >= 0) {
    mStalled = true;
    char text[160];
    snprintf(text, sizeof text, "Stuck: %s has made no progress for %" PRId64 " s",
             cProgress::name(which), stuckMs / 1000);
    error("Watchdog: %s; the watchdog pings stop", text);
    mTrigger = text;
    mPingOwed = false;
    mStatusOwed = false;  // the trigger carries its own status
    return;
  }
  if (now - mLastPingMs < pingEveryMs(mWatchdogUsec)) return;
  mLastPingMs = now;
  mPingOwed = true;
}

// A status still owed is replaced by the current one at once: it is late already.
void cService::addStatus(int64_t now) {
  std::string link;
  std::string text = status(&link);
  if (text == mLastStatus) return;
  if (!mStatusOwed && link == mLastLink && now - mLastStatusMs < kStatusEveryMs) return;
  mLastStatus = text;
  mLastLink = link;
  mLastStatusMs = now;
  mStatusOwed = true;
}

// For example "Link connected; south messages=12 dropped=0; north messages=10 dropped=1;
// at-timeouts=0".
std::string cService::status(std::string* linkPart) const {
  *linkPart = cBTMsg::linkStateName();
  char text[200];
  snprintf(text, sizeof text,
           "Link %s; south messages=%" PRIu64 " dropped=%" PRIu64 "; north messages=%" PRIu64
           " dropped=%" PRIu64 "; at-timeouts=%" PRIu64,
           linkPart->c_str(), cStats::get(cStats::kSouth, cStats::kMessages),
           cStats::dropped(cStats::kSouth), cStats::get(cStats::kNorth, cStats::kMessages),
           cStats::dropped(cStats::kNorth), cStats::atTimeouts());
  return text;
}

// One datagram with everything owed, READY=1 first. The log says when sending starts to fail
// and when it goes through again, never that a failed one went through.
void cService::sendOwed() {
  std::string message;
  std::string names;  // for the log
  auto add = [&message, &names](const char* name, const std::string& text) {
    message += (message.empty() ? "" : "\n") + text;
    names += (names.empty() ? "" : ", ") + std::string(name);
  };
  if (mReadyOwed) add("READY=1", "READY=1");
  if (!mTrigger.empty()) add("WATCHDOG=trigger", "WATCHDOG=trigger\nSTATUS=" + mTrigger);
  if (mPingOwed) add("WATCHDOG=1", "WATCHDOG=1");
  if (mStatusOwed) add("STATUS", "STATUS=" + mLastStatus);
  if (message.empty()) return;
  int rc = sd_notify(0, message.c_str());
  if (rc <= 0) {
    if (!mNotifyFailing)
      warn(
          "Could not notify the service manager (%s) err(%d): %s; sent again at every tick "
          "until it goes through",
          names.c_str(), -rc, strerror(-rc));
    mNotifyFailing = true;
    return;
  }
  if (mNotifyFailing) info("The service manager is notified again: %s", names.c_str());
  mNotifyFailing = false;
  mReadyOwed = mStatusOwed = mPingOwed = false;
  mTrigger.clear();
}
