#include "bench/cBenchSteps.h"

#include <unistd.h>

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

// A request that reaches the link state thread while it is not waiting (say, just after the
// module's set-up) is carried out at its next timed wake-up: allow one tick and a little more.
bool connectPeer(cBench& bench) {
  int before = bench.logCount("Going BT_LINK_CONNECTED");
  bench.module().enterBypass();
  return waitTransition(bench, "BT_LINK_CONNECTED", before, 11);
}

bool disconnectPeer(cBench& bench) {
  int before = bench.logCount("Going BT_LINK_DISCOVERY");
  bench.module().leaveBypass();
  return waitTransition(bench, "BT_LINK_DISCOVERY", before, 11);
}

bool startInBypass(cBench& bench) {
  if (!bench.start() ||
      !bench.module().waitForCommand("DefaultLocalName", bench.realMs(15, kMarginMs)))
    return false;
  usleep(300 * 1000);  // the reply is taken and the command withdrawn
  bench.module().enterBypass();
  return true;
}

bool waitNorth(cBench& bench) {
  return bench.waitForLog("North link connected to", 1, bench.realMs(2, kMarginMs)) &&
         bench.broker().waitForPeer(kMarginMs);
}

}  // namespace cBenchSteps
