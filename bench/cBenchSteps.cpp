#include "bench/cBenchSteps.h"

#include "bench/cBench.h"

namespace cBenchSteps {

bool waitStartup(cBench& bench) {
  return bench.waitForLog("AP Name set to", 1, bench.realMs(15, kMarginMs));
}

bool pressForPairing(cBench& bench) {
  int before = bench.logCount("Enable Pairing");
  bench.gpio().press();
  bool seen = bench.waitForLog("Enable Pairing", before + 1, bench.realMs(5, kMarginMs));
  bench.gpio().release();
  return seen;
}

bool waitTransition(cBench& bench, const std::string& state, int before, double daemonSeconds) {
  return bench.waitForLog("Going " + state, before + 1, bench.realMs(daemonSeconds, kMarginMs));
}

bool connectPeer(cBench& bench) {
  int before = bench.logCount("Going BT_LINK_CONNECTED");
  bench.module().enterBypass();
  return waitTransition(bench, "BT_LINK_CONNECTED", before, 2);
}

bool disconnectPeer(cBench& bench) {
  int before = bench.logCount("Going BT_LINK_DISCOVERY");
  bench.module().leaveBypass();
  return waitTransition(bench, "BT_LINK_DISCOVERY", before, 2);
}

bool waitNorth(cBench& bench) {
  return bench.waitForLog("North link connected to", 1, bench.realMs(2, kMarginMs)) &&
         bench.broker().waitForPeer(kMarginMs);
}

}  // namespace cBenchSteps
