#include "bench/soak/cSoak.h"

#include <unistd.h>

#include <cstdio>
#include <thread>

#include "bench/cBench.h"
#include "bench/cBenchClock.h"
#include "bench/cBenchProc.h"
#include "bench/cBenchSteps.h"
#include "bench/soak/cSoakTrack.h"

namespace {

const int kStallMs = 10000;  // nothing moved for this long: the rest counts as lost

uint64_t splitmix(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// One direction's sender: message after message, each once the window lets it go.
template <class Send>
void sendAll(const cSoakOptions& o, int direction, cSoakTrack* track, Send send) {
  for (long i = 0; i < o.count; ++i) {
    std::vector<uint8_t> m = cSoak::message(o.seed, direction, i, o.maxSize);
    track->beforeSend(i, m.size(), kStallMs);
    send(static_cast<int>(i & 0x7F), m);
    if (o.progress && (i + 1) % (o.count / 10 > 0 ? o.count / 10 : 1) == 0)
      fprintf(stderr, "%s: %ld sent\n", direction == 0 ? "south" : "north", i + 1);
  }
}

}  // namespace

std::vector<uint8_t> cSoak::message(uint32_t seed, int direction, long index, int maxSize) {
  uint64_t state = (static_cast<uint64_t>(seed) << 32) ^ (static_cast<uint64_t>(index) << 1) ^
                   static_cast<uint64_t>(direction);
  splitmix(&state);
  size_t size = 1 + static_cast<size_t>(splitmix(&state) % static_cast<uint64_t>(maxSize));
  std::vector<uint8_t> out;
  out.reserve(size + 4);
  static const char kEscape[] = "AT-AB";
  while (out.size() < size) {
    uint64_t r = splitmix(&state);
    for (int k = 0; k < 8 && out.size() < size; ++k, r >>= 8) {
      switch (r & 0x1F) {
        case 0:
          out.insert(out.end(), kEscape, kEscape + 5);
          break;
        case 1:
          out.push_back(0x7E);
          break;
        case 2:
          out.push_back(0x7D);
          break;
        default:
          out.push_back(static_cast<uint8_t>((r >> 5) ^ (r >> 13)));
      }
    }
  }
  out.resize(size);
  return out;
}

bool cSoakResult::clean() const {
  auto ok = [](const cSoakCount& c) {
    return c.received == c.sent && c.lost == 0 && c.corrupted == 0 && c.duplicated == 0;
  };
  return started && ok(south) && ok(north);
}

double cSoakResult::megabytes() const {
  return static_cast<double>(south.bytes + north.bytes) / 1e6;
}

cSoakResult cSoak::run() {
  cSoakResult r;
  cBenchOptions bo;
  bo.speed = mOptions.speed;
  bo.logLevel = "INFO";  // no per-datagram lines: the log would outgrow the run
  cBench bench(bo);
  cSoakTrack south(mOptions, 0);
  cSoakTrack north(mOptions, 1);
  bench.module().setMessageSink(
      [&](int id, const std::vector<uint8_t>& p) { south.onMessage(id, p); });
  bench.broker().setMessageSink(
      [&](int id, const std::vector<uint8_t>& p) { north.onMessage(id, p); });
  if (!cBenchSteps::startInBypass(bench)) {
    r.failure = "the daemon did not set the module up:\n" + bench.daemonOutput();
    return r;
  }
  if (!bench.broker().waitForPeer(cBenchSteps::kMarginMs)) {
    r.failure = "the daemon's broker socket was not found";
    return r;
  }
  r.started = true;
  r.memStartKb = cBenchProc::privateKb(bench.pid());
  double cpuStart = cBenchProc::cpuSeconds(bench.pid());
  double start = benchNow();
  const cSoakOptions& o = mOptions;
  std::thread toPeer([&] {
    sendAll(o, 0, &south,
            [&](int id, const std::vector<uint8_t>& m) { bench.broker().sendMessage(id, m); });
  });
  std::thread toBroker([&] {
    sendAll(o, 1, &north, [&](int id, const std::vector<uint8_t>& m) {
      bench.module().sendMessage(id, m, o.peerSegSize);
    });
  });
  toPeer.join();
  toBroker.join();
  south.waitDone(kStallMs);
  north.waitDone(kStallMs);
  r.realSeconds = benchNow() - start;
  r.cpuSeconds = cBenchProc::cpuSeconds(bench.pid()) - cpuStart;
  r.memEndKb = cBenchProc::privateKb(bench.pid());
  r.south = south.result();
  r.north = north.result();
  if (!bench.running()) r.failure = "the daemon ended:\n" + bench.daemonOutput();
  return r;
}

std::string cSoak::report(const cSoakResult& r) {
  char text[1024];
  auto line = [](const char* name, const cSoakCount& c) {
    char out[256];
    snprintf(out, sizeof out,
             "%-15s sent %ld, received %ld, lost %ld, corrupted %ld, duplicated %ld, %.1f MB\n",
             name, c.sent, c.received, c.lost, c.corrupted, c.duplicated, c.bytes / 1e6);
    return std::string(out);
  };
  double mb = r.megabytes();
  snprintf(text, sizeof text,
           "private memory  start %ld kB, end %ld kB\n"
           "CPU             %.2f s over %.1f s, %.4f s per relayed MB (%.1f MB)\n",
           r.memStartKb, r.memEndKb, r.cpuSeconds, r.realSeconds, mb > 0 ? r.cpuSeconds / mb : 0,
           mb);
  std::string out = line("broker to peer", r.south) + line("peer to broker", r.north) + text;
  if (!r.failure.empty()) out += "failure: " + r.failure + "\n";
  return out;
}
