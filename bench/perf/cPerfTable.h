#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bench/perf/cPerfLink.h"
#include "bench/perf/cPerfRun.h"

// Collects the runs of the benchmark and prints its tables (Markdown): median [min-max] over the
// repetitions, and ferryd/socat ratios taken per repetition, from runs made side by side.
class cPerfReport {
 public:
  struct cKey {
    int segSize;
    bool south;
    size_t msgSize;
    bool paced;
    int variant;  // 0 ferryd, 1 socat -b1024, 2 socat -b8192
    bool operator<(const cKey& o) const {
      return std::tie(segSize, south, msgSize, paced, variant) <
             std::tie(o.segSize, o.south, o.msgSize, o.paced, o.variant);
    }
  };

  explicit cPerfReport(int reps) : mReps(reps) {}
  void add(const cKey& key, const cPerfRunResult& r) { mRuns[key].push_back(r); }
  void addUart(size_t chunk, int variant, long count, const cPerfRunResult& r);
  void addText(int segSize, size_t msgSize, const cPerfRunResult& r);
  // Samples every process over seconds of no traffic.
  void idle(const std::string& state, const std::vector<cPerfLink*>& links, double seconds);
  void memoryStart(long kb) { mMemStart = kb; }
  void memoryEnd(long kb, long messages) {
    mMemEnd = kb;
    mMemMessages = messages;
  }
  void print(FILE* out) const;
  // Only the paced runs were made: their CPU and latency tables.
  void printPaced(FILE* out) const;

 private:
  struct cUart {
    double ticksPerMB, schedPerMB, wakeupsPerMsg;
  };
  struct cIdle {
    std::string state, name;
    int segSize;
    double wakeupsPerSec, cpuPercent;
  };
  void printCpu(FILE* out, bool paced, bool sched) const;
  void printLatency(FILE* out) const;
  void printWire(FILE* out) const;
  void printIdle(FILE* out) const;
  void printUart(FILE* out) const;
  std::vector<double> values(const cKey& key, double (*get)(const cPerfRunResult&)) const;

  int mReps;
  std::map<cKey, std::vector<cPerfRunResult>> mRuns;
  std::map<std::pair<size_t, int>, std::vector<cUart>> mUart;
  std::map<std::pair<int, size_t>, double> mTextEfficiency;
  std::vector<cIdle> mIdle;
  long mMemStart = -1, mMemEnd = -1, mMemMessages = 0;
};

// "median [min-max]" of the values, with the given printf format for each number.
std::string medianRange(std::vector<double> v, const char* fmt);
