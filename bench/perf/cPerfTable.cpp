#include "bench/perf/cPerfTable.h"

#include <unistd.h>

#include <algorithm>

namespace {

const char* const kVariants[] = {"ferryd", "socat -b1024", "socat -b8192"};
constexpr double kLineRate = 11520.0;

std::string fmt1(const char* fmt, double v) {
  char b[64];
  snprintf(b, sizeof b, fmt, v);
  return b;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::vector<double> ratios(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> r;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) r.push_back(b[i] > 0 ? a[i] / b[i] : 0);
  return r;
}

double ticksMs(const cPerfRunResult& r) {
  return r.cpuTicksPerMB() * 1000;
}
double schedMs(const cPerfRunResult& r) {
  return r.cpuSchedPerMB() * 1000;
}
double p50(const cPerfRunResult& r) {
  return r.percentile(50);
}
double p99(const cPerfRunResult& r) {
  return r.percentile(99);
}
double efficiency(const cPerfRunResult& r) {
  return r.payloadMB * 1e6 / r.serialBytes;
}

}  // namespace

std::string medianRange(std::vector<double> v, const char* fmt) {
  if (v.empty()) return "-";
  auto mm = std::minmax_element(v.begin(), v.end());
  return fmt1(fmt, median(v)) + " [" + fmt1(fmt, *mm.first) + "-" + fmt1(fmt, *mm.second) + "]";
}

std::vector<double> cPerfReport::values(const cKey& key,
                                        double (*get)(const cPerfRunResult&)) const {
  std::vector<double> v;
  auto it = mRuns.find(key);
  if (it == mRuns.end()) return v;
  for (const cPerfRunResult& r : it->second) v.push_back(get(r));
  return v;
}

void cPerfReport::addUart(size_t chunk, int variant, long count, const cPerfRunResult& r) {
  mUart[{chunk, variant}].push_back(
      {r.cpuTicksPerMB() * 1000, r.cpuSchedPerMB() * 1000, r.switches() / count});
}

void cPerfReport::addText(int segSize, size_t msgSize, const cPerfRunResult& r) {
  mTextEfficiency[{segSize, msgSize}] = efficiency(r);
}

void cPerfReport::idle(const std::string& state, const std::vector<cPerfLink*>& links,
                       double seconds) {
  std::vector<cProcSample> before;
  for (cPerfLink* l : links) before.push_back(cPerfProc::sample(l->pid()));
  usleep(static_cast<useconds_t>(seconds * 1e6));
  for (size_t i = 0; i < links.size(); ++i) {
    cProcSample after = cPerfProc::sample(links[i]->pid());
    mIdle.push_back({state, links[i]->name(), links[i]->segSize(),
                     static_cast<double>(after.switches - before[i].switches) / seconds,
                     (after.cpuSchedSec - before[i].cpuSchedSec) / seconds * 100});
  }
}

void cPerfReport::printCpu(FILE* out, bool paced, bool sched) const {
  auto get = sched ? schedMs : ticksMs;
  fprintf(out, "\n### CPU ms per relayed MB, %s (%s)\n\n", paced ? "paced" : "at saturation",
          sched ? "scheduler on-CPU time, task/*/schedstat" : "utime+stime, stat");
  fprintf(out,
          "| seg | direction | msg | ferryd | socat -b1024 | socat -b8192 | ferryd/b1024 | "
          "ferryd/b8192 |\n|---|---|---|---|---|---|---|---|\n");
  for (int seg : {256, 1021}) {
    for (bool south : {true, false}) {
      for (size_t size : {1000u, 10000u}) {
        std::vector<double> v[3];
        for (int i = 0; i < 3; ++i) v[i] = values({seg, south, size, paced, i}, get);
        fprintf(out, "| %d | %s | %zu | %s | %s | %s | %s | %s |\n", seg,
                south ? "broker->peer" : "peer->broker", size, medianRange(v[0], "%.1f").c_str(),
                medianRange(v[1], "%.1f").c_str(), medianRange(v[2], "%.1f").c_str(),
                medianRange(ratios(v[0], v[1]), "%.2f").c_str(),
                medianRange(ratios(v[0], v[2]), "%.2f").c_str());
      }
    }
  }
}

void cPerfReport::printLatency(FILE* out) const {
  fprintf(out,
          "\n### Latency, paced, ms from the send of a message to the arrival of its last byte\n\n"
          "| seg | direction | msg | p50 ferryd | p50 socat -b1024 | p50 socat -b8192 | "
          "p50 ferryd/b1024 | p50 ferryd/b8192 | p99 ferryd | p99 socat -b1024 | "
          "p99 socat -b8192 |\n|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (int seg : {256, 1021}) {
    for (bool south : {true, false}) {
      for (size_t size : {1000u, 10000u}) {
        fprintf(out, "| %d | %s | %zu |", seg, south ? "broker->peer" : "peer->broker", size);
        std::vector<double> median[3];
        for (int i = 0; i < 3; ++i) {
          median[i] = values({seg, south, size, true, i}, p50);
          fprintf(out, " %s |", medianRange(median[i], "%.3f").c_str());
        }
        // Ratios per repetition, from the runs made side by side, as for CPU.
        for (int i = 1; i < 3; ++i)
          fprintf(out, " %s |", medianRange(ratios(median[0], median[i]), "%.2f").c_str());
        for (int i = 0; i < 3; ++i)
          fprintf(out, " %s |",
                  medianRange(values({seg, south, size, true, i}, p99), "%.3f").c_str());
        fprintf(out, "\n");
      }
    }
  }
}

void cPerfReport::printWire(FILE* out) const {
  fprintf(out,
          "\n### Wire efficiency (payload bytes / serial bytes) and goodput at 115200 8N1\n\n"
          "| seg | msg | random | text | goodput random B/s | goodput text B/s |\n"
          "|---|---|---|---|---|---|\n");
  for (int seg : {256, 1021}) {
    for (size_t size : {1000u, 10000u}) {
      double r = median(values({seg, true, size, false, 0}, efficiency));
      auto it = mTextEfficiency.find({seg, size});
      double t = it == mTextEfficiency.end() ? 0 : it->second;
      fprintf(out, "| %d | %zu | %.1f%% | %.1f%% | %.0f | %.0f |\n", seg, size, r * 100, t * 100,
              r * kLineRate, t * kLineRate);
    }
  }
}

void cPerfReport::printIdle(FILE* out) const {
  fprintf(out,
          "\n### Idle (no traffic)\n\n| state | process | seg | wake-ups/s | CPU %% of a core |\n"
          "|---|---|---|---|---|\n");
  for (const cIdle& i : mIdle)
    fprintf(out, "| %s | %s | %d | %.2f | %.4f |\n", i.state.c_str(), i.name.c_str(), i.segSize,
            i.wakeupsPerSec, i.cpuPercent);
}

void cPerfReport::printUart(FILE* out) const {
  fprintf(out,
          "\n### Peer bytes as a UART delivers them (seg 256, 1000-byte messages, peer->broker)"
          "\n\n| chunk | process | CPU ms/MB (stat) | CPU ms/MB (schedstat) | wake-ups/message |\n"
          "|---|---|---|---|---|\n");
  for (const auto& e : mUart) {
    std::vector<double> t, s, w;
    for (const cUart& u : e.second) {
      t.push_back(u.ticksPerMB);
      s.push_back(u.schedPerMB);
      w.push_back(u.wakeupsPerMsg);
    }
    fprintf(out, "| %zu | %s | %s | %s | %s |\n", e.first.first, kVariants[e.first.second],
            medianRange(t, "%.0f").c_str(), medianRange(s, "%.0f").c_str(),
            medianRange(w, "%.1f").c_str());
  }
}

void cPerfReport::print(FILE* out) const {
  fprintf(out, "## ferryd_perf: %d repetitions, variants interleaved\n", mReps);
  printCpu(out, false, false);
  printCpu(out, false, true);
  printCpu(out, true, false);
  printCpu(out, true, true);
  printLatency(out);
  printWire(out);
  printIdle(out);
  fprintf(out,
          "\n### Private memory of ferryd (seg 256, smaps_rollup Private_Clean+Private_Dirty)\n\n"
          "| at start | after %ld messages each way |\n|---|---|\n| %ld KB | %ld KB |\n",
          mMemMessages, mMemStart, mMemEnd);
  printUart(out);
}

void cPerfReport::printPaced(FILE* out) const {
  fprintf(out, "## ferryd_perf --latency-only: %d repetitions, variants interleaved\n", mReps);
  printCpu(out, true, true);
  printLatency(out);
}
