#pragma once

#include <map>
#include <string>
#include <vector>

#include "bench/perf/cPerfLink.h"
#include "bench/perf/cPerfProc.h"

// One measured run: count messages of msgSize bytes through one relay in one direction, every
// message checked at the far end.
struct cPerfRunPlan {
  bool south = true;  // broker -> peer; false: peer -> broker
  size_t msgSize = 1000;
  bool text = false;  // text payloads instead of random bytes
  long count = 1000;
  double paceHz = 0;  // messages per second; 0: as fast as the relay takes them
  size_t chunk = 0;   // peer -> broker: write the serial bytes in chunks of this size, paced
                      // at the line rate (11,520 bytes/s); 0: one write per message
  size_t windowBytes = 32 * 1024;  // at most this much payload in flight
};

struct cPerfRunResult {
  bool ok = false;
  std::string error;
  double wallSec = 0;
  double payloadMB = 0;
  double serialBytes = 0;  // bytes on the serial line (broker -> peer: counted at the peer)
  cProcSample before, after;
  std::vector<double> latencyMs;  // per message, send to arrival of its last byte
  double cpuTicksPerMB() const { return (after.cpuTicksSec - before.cpuTicksSec) / payloadMB; }
  double cpuSchedPerMB() const { return (after.cpuSchedSec - before.cpuSchedSec) / payloadMB; }
  double switches() const { return static_cast<double>(after.switches - before.switches); }
  double percentile(double p) const;
};

cPerfRunResult runTraffic(cPerfLink& link, const cPerfRunPlan& plan);
