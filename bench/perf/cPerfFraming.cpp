#include "bench/perf/cPerfFraming.h"

#include <time.h>

#include <vector>

#include "bench/perf/cPerfTraffic.h"
#include "support/cHDLC.h"

namespace {

constexpr int kRounds = 1000;

// CPU time of this thread: other work on the machine does not count.
double cpuNow() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct cCost {
  double frameRef, frameFast, unframeRef, unframeFast;
};

// Ten segments of 1021 bytes, framed back to back.
cCost measure(bool text) {
  std::vector<cBytes> segs;
  for (long k = 0; k < 10; ++k) segs.push_back(cPerfTraffic::segments(k, 1021 - 5, text, 1021)[0]);
  size_t bytes = 0;
  for (const cBytes& s : segs) bytes += s.size();
  std::vector<unsigned char> out(segs.size() * cHDLC::maxFramed(1021));
  cHDLC h;
  cCost c{};
  int n = 0;
  double t = cpuNow();
  for (int r = 0; r < kRounds; ++r) {
    unsigned char* o = out.data();
    for (const cBytes& s : segs) {
      h.frameData(s.data(), static_cast<int>(s.size()), o, &n);
      o += n;
    }
  }
  c.frameRef = (cpuNow() - t) * 1e9 / (kRounds * static_cast<double>(bytes));
  size_t framed = 0;
  t = cpuNow();
  for (int r = 0; r < kRounds; ++r) {
    framed = 0;
    for (const cBytes& s : segs)
      framed += cHDLC::frame(s.data(), static_cast<int>(s.size()), out.data() + framed);
  }
  c.frameFast = (cpuNow() - t) * 1e9 / (kRounds * static_cast<double>(bytes));
  long sink = 0;
  t = cpuNow();
  for (int r = 0; r < kRounds; ++r) {
    unsigned char frame[cHDLC::kMaxPayload];
    for (size_t i = 0; i < framed; ++i) sink += h.unFrameByte(out[i], frame, &n);
  }
  c.unframeRef = (cpuNow() - t) * 1e9 / (kRounds * static_cast<double>(bytes));
  t = cpuNow();
  for (int r = 0; r < kRounds; ++r) {
    sink += h.unFrame(
        out.data(), static_cast<int>(framed), [](void*, const unsigned char*, int) {}, nullptr);
  }
  c.unframeFast = (cpuNow() - t) * 1e9 / (kRounds * static_cast<double>(bytes));
  if (sink != 2L * kRounds * static_cast<long>(segs.size()))
    fprintf(stderr, "framing: lost frames\n");
  return c;
}

}  // namespace

void printFramingCost(FILE* out) {
  fprintf(out,
          "\n### Framing code alone, ns per payload byte (segments of 1021 bytes)\n\n"
          "| payload | frameData | frame | unFrameByte | unFrame |\n|---|---|---|---|---|\n");
  for (bool text : {false, true}) {
    cCost c = measure(text);
    fprintf(out, "| %s | %.2f | %.2f | %.2f | %.2f |\n", text ? "text" : "random", c.frameRef,
            c.frameFast, c.unframeRef, c.unframeFast);
  }
}
