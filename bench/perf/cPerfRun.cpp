#include "bench/perf/cPerfRun.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "bench/cBenchClock.h"
#include "bench/perf/cPerfTraffic.h"
#include "support/cHDLC.h"

namespace {

constexpr double kLineRate = 11520.0;  // bytes per second at 115200 baud, 8N1
constexpr int kStallMs = 5000;         // no progress for this long: a message was lost
constexpr long kMaxInFlight = 32;      // messages

void sleepUntil(double t) {
  double now = benchNow();
  if (t <= now) return;
  double d = t - now;
  timespec ts = {static_cast<time_t>(d), static_cast<long>((d - static_cast<time_t>(d)) * 1e9)};
  nanosleep(&ts, nullptr);
}

struct cShared {
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<long> done{0};
  std::atomic<bool> failed{false};
  std::string error;
  void fail(const std::string& why) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!failed) error = why;
    failed = true;
    changed.notify_all();
  }
};

// What one look at the far end finds: one read of the serial side, or every datagram queued
// at the broker socket in one recvmmsg call, so that the benchmark's own system calls per
// datagram do not hold back the arrival of the later datagrams of a message (ferryd sends
// datagrams of at most 1024 bytes, socat -b8192 of up to 8192).
class cFarEnd {
 public:
  static constexpr unsigned kUnits = 32;
  static constexpr size_t kUnitSize = 8192;
  int take(int fd, bool serial) {
    if (serial) {
      ssize_t n = read(fd, mBuf, sizeof mBuf);
      mSize[0] = n > 0 ? static_cast<size_t>(n) : 0;
      return n > 0 ? 1 : static_cast<int>(n);
    }
    mmsghdr m[kUnits];
    iovec iov[kUnits];
    memset(m, 0, sizeof m);
    for (unsigned i = 0; i < kUnits; ++i) {
      iov[i] = {mBuf + i * kUnitSize, kUnitSize};
      m[i].msg_hdr.msg_iov = &iov[i];
      m[i].msg_hdr.msg_iovlen = 1;
    }
    int n = recvmmsg(fd, m, kUnits, MSG_DONTWAIT, nullptr);
    for (int i = 0; i < n; ++i) mSize[i] = m[i].msg_len;
    return n;
  }
  const uint8_t* data(int unit) const { return mBuf + static_cast<size_t>(unit) * kUnitSize; }
  size_t size(int unit) const { return mSize[unit]; }

 private:
  uint8_t mBuf[kUnits * kUnitSize];
  size_t mSize[kUnits];
};

// Far end of the run: the peer (master side) for broker -> peer, the broker socket otherwise.
void receiveAll(cPerfLink& link, const cPerfRunPlan& plan, cShared& shared,
                std::vector<double>& arrived, double& serialBytes) {
  bool ferryd = link.kind() == cPerfLink::cKind::Ferryd;
  int maxBytes = plan.south ? link.segSize() : 1024;
  cPerfExpect::cUnitsOf unitsOf;
  if (ferryd || plan.south) {
    // ferryd delivers segments; socat passes on the broker's datagrams as a stream
    int cut = ferryd ? maxBytes : 1024;
    unitsOf = [&plan, cut](long k) {
      return cPerfTraffic::segments(k, plan.msgSize, plan.text, cut);
    };
  } else {
    int seg = link.segSize();
    unitsOf = [&plan, seg](long k) {
      return std::vector<cBytes>{cPerfTraffic::framed(k, plan.msgSize, plan.text, seg)};
    };
  }
  // A message arrives with the read that brings its last byte: checking it is the benchmark's
  // own work (and costs more for frames than for a plain stream), so it is not counted.
  double readAt = 0;
  cPerfExpect expect(unitsOf, [&](long k) {
    arrived[static_cast<size_t>(k)] = readAt;
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.done = k + 1;
    shared.changed.notify_all();
  });
  cHDLC hdlc;
  int fd = plan.south ? link.master() : link.broker();
  static thread_local uint8_t frame[cHDLC::kMaxPayload];
  static thread_local cFarEnd farEnd;
  double lastProgress = benchNow();
  while (shared.done < plan.count && !shared.failed) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) {
      if (benchNow() - lastProgress > kStallMs / 1000.0) {
        shared.fail(link.name() + ": message " + std::to_string(expect.next()) + " of " +
                    std::to_string(plan.count) + " never arrived");
      }
      continue;
    }
    int units = farEnd.take(fd, plan.south);
    if (units <= 0) continue;
    readAt = benchNow();
    lastProgress = readAt;
    bool ok = true;
    for (int u = 0; u < units && ok; ++u) {
      const uint8_t* buf = farEnd.data(u);
      size_t n = farEnd.size(u);
      if (plan.south) serialBytes += static_cast<double>(n);
      if (!ferryd) {
        ok = expect.feedBytes(buf, n);
      } else if (!plan.south) {
        ok = expect.feedUnit(buf, n);
      } else {
        for (size_t i = 0; i < n && ok; ++i) {
          int len = 0;
          if (hdlc.unFrameByte(buf[i], frame, &len)) ok = expect.feedUnit(frame, len);
        }
        if (hdlc.droppedFrames() != 0) ok = false;
      }
    }
    if (!ok) {
      shared.fail(link.name() + ": message " + std::to_string(expect.next()) +
                  " arrived corrupted");
    }
  }
}

bool sendOne(cPerfLink& link, const cPerfRunPlan& plan, long k, double& serialBytes,
             double& lineNext) {
  if (plan.south) {
    for (const cBytes& d : cPerfTraffic::segments(k, plan.msgSize, plan.text, 1024)) {
      if (sendto(link.broker(), d.data(), d.size(), 0,
                 reinterpret_cast<const sockaddr*>(&link.relayAddr()),
                 sizeof link.relayAddr()) < 0) {
        return false;
      }
    }
    return true;
  }
  cBytes bytes = cPerfTraffic::framed(k, plan.msgSize, plan.text, link.segSize());
  serialBytes += static_cast<double>(bytes.size());
  if (plan.chunk == 0) return link.writeMaster(bytes.data(), bytes.size());
  double& next = lineNext;  // when the line is free for the next chunk
  next = std::max(next, benchNow());
  for (size_t at = 0; at < bytes.size(); at += plan.chunk) {
    size_t n = std::min(plan.chunk, bytes.size() - at);
    sleepUntil(next);
    if (!link.writeMaster(bytes.data() + at, n)) return false;
    next += static_cast<double>(n) / kLineRate;
  }
  return true;
}

}  // namespace

double cPerfRunResult::percentile(double p) const {
  if (latencyMs.empty()) return 0;
  std::vector<double> v = latencyMs;
  size_t at =
      std::min(v.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(v.size())));
  std::nth_element(v.begin(), v.begin() + static_cast<long>(at), v.end());
  return v[at];
}

cPerfRunResult runTraffic(cPerfLink& link, const cPerfRunPlan& plan) {
  cPerfRunResult r;
  cShared shared;
  std::vector<double> sent(static_cast<size_t>(plan.count)), arrived(sent.size());
  // Bounded in bytes and in datagrams: the relay's socket buffer must never overflow.
  long window = static_cast<long>(plan.windowBytes / std::max<size_t>(1, plan.msgSize));
  window = std::max<long>(1, std::min<long>(window, kMaxInFlight));
  double farSerial = 0, nearSerial = 0, lineNext = 0;
  r.before = cPerfProc::sample(link.pid());
  double start = benchNow();
  std::thread receiver([&] { receiveAll(link, plan, shared, arrived, farSerial); });
  for (long k = 0; k < plan.count && !shared.failed; ++k) {
    {
      std::unique_lock<std::mutex> lock(shared.mutex);
      shared.changed.wait(lock, [&] { return shared.failed || shared.done > k - window; });
    }
    if (plan.paceHz > 0) sleepUntil(start + static_cast<double>(k) / plan.paceHz);
    sent[static_cast<size_t>(k)] = benchNow();
    if (!sendOne(link, plan, k, nearSerial, lineNext)) shared.fail(link.name() + ": send failed");
  }
  receiver.join();
  r.after = cPerfProc::sample(link.pid());
  r.wallSec = benchNow() - start;
  r.ok = !shared.failed;
  r.error = shared.error;
  r.payloadMB = static_cast<double>(plan.msgSize) * static_cast<double>(plan.count) / 1e6;
  r.serialBytes = plan.south ? farSerial : nearSerial;
  for (size_t k = 0; k < sent.size() && r.ok; ++k) {
    r.latencyMs.push_back((arrived[k] - sent[k]) * 1000.0);
  }
  return r;
}
