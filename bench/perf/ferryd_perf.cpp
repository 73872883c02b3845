// ferryd against socat on the same path (pseudo-terminal <-> UDP on loopback) with the same
// traffic: CPU per relayed MB, latency, wire efficiency, idle wake-ups, memory, UART-like input.
// Variants run interleaved, each repeated; every message is checked at the far end and a lost
// or corrupted one fails the benchmark (exit status 1). Usage: ferryd_perf --help.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/cBenchClock.h"
#include "bench/perf/cPerfFraming.h"
#include "bench/perf/cPerfLink.h"
#include "bench/perf/cPerfRun.h"
#include "bench/perf/cPerfTable.h"

namespace {

struct cOptions {
  int reps = 3;
  double satMB = 8.0;  // payload per saturation run
  double pacedSeconds = 1.5;
  double paceHz = 200;
  double idleSeconds = 10;
  double uartSeconds = 2;
  long memoryMessages = 100000;
  bool framingOnly = false;
  bool latencyOnly = false;
};

void usage() {
  printf(
      "ferryd_perf [--reps N] [--mb MB] [--paced-seconds S] [--pace-hz HZ] [--idle-seconds S]\n"
      "            [--uart-seconds S] [--memory-messages N] [--long] [--ferryd BINARY]\n"
      "  defaults: 3 repetitions, 8 MB per saturation run, 1.5 s paced runs at 200 messages/s,\n"
      "            10 s idle, 2 s UART runs, 100000 messages each way for memory\n"
      "  --long: 5 repetitions, 20 MB saturation runs, 5 s paced runs, 30 s idle, 10 s UART\n"
      "  --framing-only: only the cost of the framing code, no relays\n"
      "  --latency-only: only the paced runs (latency, paced CPU), no idle, UART or memory\n"
      "  --ferryd: the daemon binary to measure (default: the one built with this program)\n");
}

bool parse(int argc, char** argv, cOptions* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto val = [&]() { return i + 1 < argc ? atof(argv[++i]) : 0.0; };
    if (a == "--reps")
      o->reps = std::max(1, static_cast<int>(val()));
    else if (a == "--mb")
      o->satMB = val();
    else if (a == "--paced-seconds")
      o->pacedSeconds = val();
    else if (a == "--pace-hz")
      o->paceHz = val();
    else if (a == "--idle-seconds")
      o->idleSeconds = val();
    else if (a == "--uart-seconds")
      o->uartSeconds = val();
    else if (a == "--memory-messages")
      o->memoryMessages = static_cast<long>(val());
    else if (a == "--long")
      *o = {5, 20.0, 5.0, 200, 30, 10, 100000};
    else if (a == "--framing-only")
      o->framingOnly = true;
    else if (a == "--latency-only")
      o->latencyOnly = true;
    else if (a == "--ferryd" && i + 1 < argc)
      setenv("FERRYD_PERF_BINARY", argv[++i], 1);
    else
      return false;
  }
  return true;
}

struct cTrio {
  int segSize;
  std::unique_ptr<cPerfLink> links[3];  // ferryd, socat -b1024, socat -b8192
};

[[noreturn]] void die(const std::string& why) {
  fprintf(stderr, "ferryd_perf: FAILED: %s\n", why.c_str());
  fflush(nullptr);
  _exit(1);
}

cPerfRunResult mustRun(cPerfLink& link, const cPerfRunPlan& plan) {
  cPerfRunResult r = runTraffic(link, plan);
  if (!r.ok) die(r.error);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  cOptions opt;
  if (!parse(argc, argv, &opt)) {
    usage();
    return 2;
  }
  if (opt.framingOnly) {
    printFramingCost(stdout);
    return 0;
  }
  std::vector<cTrio> trios;
  for (int seg : {256, 1021}) {
    cTrio t;
    t.segSize = seg;
    t.links[0].reset(new cPerfLink(cPerfLink::cKind::Ferryd, seg, 0));
    t.links[1].reset(new cPerfLink(cPerfLink::cKind::Socat, seg, 1024));
    t.links[2].reset(new cPerfLink(cPerfLink::cKind::Socat, seg, 8192));
    trios.push_back(std::move(t));
  }
  std::string error;
  fprintf(stderr, "starting the relays (ferryd waits 10 s before setting the module up)\n");
  for (cTrio& t : trios)
    for (auto& l : t.links)
      if (!l->start(&error)) die(error);
  for (cTrio& t : trios)
    for (auto& l : t.links)
      if (!l->awaitSetUp(30000, &error)) die(error);

  std::vector<cPerfLink*> all;
  for (cTrio& t : trios)
    for (auto& l : t.links) all.push_back(l.get());
  cPerfReport report(opt.reps);
  cPerfLink& main256 = *trios[0].links[0];
  report.memoryStart(cPerfProc::privateKb(main256.pid()));
  if (opt.latencyOnly) opt.idleSeconds = 0;
  fprintf(stderr, "idle in stand-by, %.0f s\n", opt.idleSeconds);
  report.idle("stand-by", all, opt.idleSeconds);
  for (cTrio& t : trios)
    for (auto& l : t.links)
      if (!l->connect(&error)) die(error);
  fprintf(stderr, "idle connected, %.0f s\n", opt.idleSeconds);
  report.idle("connected", all, opt.idleSeconds);

  for (int rep = 0; rep < opt.reps; ++rep) {
    fprintf(stderr, "repetition %d of %d\n", rep + 1, opt.reps);
    for (cTrio& t : trios) {
      for (bool south : {true, false}) {
        for (size_t size : {1000u, 10000u}) {
          for (bool paced : {false, true}) {
            if (opt.latencyOnly && !paced) continue;
            cPerfRunPlan plan;
            plan.south = south;
            plan.msgSize = size;
            plan.paceHz = paced ? opt.paceHz : 0;
            plan.count = paced ? static_cast<long>(opt.paceHz * opt.pacedSeconds)
                               : static_cast<long>(opt.satMB * 1e6 / static_cast<double>(size));
            for (int v = 0; v < 3; ++v) {
              cPerfRunResult r = mustRun(*t.links[v], plan);
              report.add({t.segSize, south, size, paced, v}, r);
            }
          }
        }
      }
      // UART-like arrival of the peer's bytes, at segment size 256 only.
      if (t.segSize != 256 || opt.latencyOnly) continue;
      for (size_t chunk : {16u, 64u}) {
        cPerfRunPlan plan;
        plan.south = false;
        plan.msgSize = 1000;
        plan.chunk = chunk;
        plan.count = std::max<long>(3, static_cast<long>(opt.uartSeconds * 11520 / 1060));
        for (int v = 0; v < 3; ++v)
          report.addUart(chunk, v, plan.count, mustRun(*t.links[v], plan));
      }
    }
  }

  if (opt.latencyOnly) {
    report.printPaced(stdout);
    return 0;
  }
  fprintf(stderr, "wire efficiency (text payloads)\n");
  for (cTrio& t : trios) {
    for (size_t size : {1000u, 10000u}) {
      cPerfRunPlan plan;
      plan.msgSize = size;
      plan.text = true;
      plan.count = 100;
      report.addText(t.segSize, size, mustRun(*t.links[0], plan));
    }
  }

  fprintf(stderr, "memory: %ld messages each way\n", opt.memoryMessages);
  for (bool south : {true, false}) {
    cPerfRunPlan plan;
    plan.south = south;
    plan.msgSize = 100;
    plan.count = opt.memoryMessages;
    mustRun(main256, plan);
  }
  report.memoryEnd(cPerfProc::privateKb(main256.pid()), opt.memoryMessages);
  report.print(stdout);
  printFramingCost(stdout);
  for (cTrio& t : trios)
    for (auto& l : t.links)
      if (kill(l->pid(), 0) != 0) die(l->name() + " ended during the benchmark");
  return 0;
}
