// Serial-line faults on the real daemon: noise in either mode, a flood of status lines, a module
// that hangs up. Each kind of bad frame is named at its byte by the
// capture decoder's tests; here random bytes show the daemon keeps its mode and recovers.
#include <random>

#include "bench/cBenchClock.h"
#include "support/cLogLimit.h"
#include "tests/link/faultTest.h"

namespace {

using cBytes = std::string;

constexpr double kNoiseSeconds = 1.0;

// What the module sends during a noise fault, one chunk at a time, for kNoiseSeconds.
struct cNoise {
  const char* name;
  bool bypass;
  cBytes (*chunk)(std::mt19937& rng);
  int maxLines;         // complaints allowed
  const char* counter;  // the drop counter of the module-to-broker direction it raises, or null
};

cBytes randomBytes(std::mt19937& rng, size_t n, bool lineEnds) {
  cBytes out(n, '\0');
  for (char& c : out) {
    c = static_cast<char>(rng() & 0xFF);
    if (!lineEnds && c == '\n') c = '\0';
  }
  return out;
}

// clang-format off
const cNoise kNoises[] = {
  {"CommandModeNoLineEndNuls", false,
   [](std::mt19937& rng) { return randomBytes(rng, 64 * 1024, false); }, 3, nullptr},
  {"CommandModeRandomBytes", false,
   [](std::mt19937& rng) { return randomBytes(rng, 64 * 1024, true); }, 10, nullptr},
  {"BypassRandomBytes", true,
   [](std::mt19937& rng) { return randomBytes(rng, 64 * 1024, true); }, 10, "bad-fcs"},
};
// clang-format on

class SerialNoiseTest : public cFaultTest {
 protected:
  // Each noise of the mode in turn on one daemon, every one followed by the checks.
  void runNoises(bool bypass) {
    cBenchOptions o;
    o.keys.push_back({"ferryd.stats.interval", "10"});  // a summary every half second at x20
    cBench& b = bringUp(o, bypass);
    if (HasFatalFailure()) return;
    std::mt19937 rng(11);
    for (const cNoise& n : kNoises) {
      if (n.bypass != bypass) continue;
      SCOPED_TRACE(n.name);
      if (!bypass && b.module().inBypass()) {
        ASSERT_TRUE(cBenchSteps::disconnectPeer(b));
      }
      mark();
      const int bails = b.logCount("Probably need to bail now");
      const long before = n.counter ? std::max(0L, counter("north", n.counter, false)) : 0;
      size_t sent = 0;
      if (!bypass) {  // a megabyte without a line end first
        for (int i = 0; i < 16; ++i, sent += 64 * 1024) b.module().sendRaw(n.chunk(rng));
      }
      for (double end = benchNow() + kNoiseSeconds; benchNow() < end;) {
        cBytes chunk = n.chunk(rng);
        // "AT-AB" would end bypass mode, which is not this fault.
        for (size_t at = chunk.find("AT-AB"); bypass && at != cBytes::npos;
             at = chunk.find("AT-AB", at))
          chunk[at] = 'a';
        b.module().sendRaw(chunk);
        sent += chunk.size();
      }
      b.module().sendRaw(bypass ? "\x7E" : "\r\n");  // the noise is over
      b.module().waitDrained(5000);
      EXPECT_EQ(bails, b.logCount("Probably need to bail now"));  // the daemon kept its mode
      if (n.counter != nullptr) {
        EXPECT_TRUE(waitCounter("north", n.counter, before)) << "no drops counted as " << n.counter;
      }
      printf("%s: %zu bytes of noise; %s\n", n.name, sent, lastCounters(mFrom).c_str());
      expectRecovered(n.name, n.maxLines);
    }
  }
};

// A command-mode line that never ends is cut and said; random lines change nothing; a line end
// closes the noise and the daemon relays both ways.
TEST_F(SerialNoiseTest, CommandModeNoise) {
  runNoises(false);
}

// Noise without "AT-AB" leaves bypass mode in place and wedges nothing.
TEST_F(SerialNoiseTest, BypassModeNoise) {
  runNoises(true);
}

class SerialModuleTest : public cFaultTest {};

// Status lines back to back for seconds: each acted on (one pairing), none complained about.
TEST_F(SerialModuleTest, FloodOfStatusLines) {
  cBench& b = bringUp({}, false);
  const cBytes lines =
      "AT-AB BondOk\r\nAT-AB BDAddress 0016A4B1C2D3\r\nAT-AB -CommandMode-\r\n"
      "AT-AB ConnectionDown\r\nAT-AB NoSuchStatus\r\nAT-AB\r\n\r\n";
  cBytes chunk;
  while (chunk.size() < 64 * 1024) chunk += lines;
  size_t sent = 0;
  for (double end = benchNow() + kNoiseSeconds; benchNow() < end; sent += chunk.size())
    b.module().sendRaw(chunk);
  b.module().waitDrained(5000);
  EXPECT_TRUE(b.waitForLog("Going BT_LINK_PAIRED", 1, b.realMs(11, kMargin)));
  b.sleepDaemon(11);
  EXPECT_EQ(1, b.logCount("Going BT_LINK_PAIRED"));
  printf("status flood: %zu bytes\n", sent);
  expectRecovered("FloodOfStatusLines", 3);
}

// The module goes away (its end of the line closed) while the broker keeps sending: the daemon
// says so once, does not spin, and when a module is back behind the same device path it opens it
// again by itself and relays both ways.
TEST_F(SerialModuleTest, HungUpThenBack) {
  cBench& b = bringUp();
  b.module().hangUp();
  for (int i = 0; i < 50; ++i) b.broker().sendMessage(i, cBenchWire::payload(600, i));
  double busy = cBenchProc::cpuOver(b.pid(), 1.0);
  EXPECT_LE(busy, kIdleCpu) << "the reader spins on the hung-up device";
  ASSERT_TRUE(b.module().reopen());
  EXPECT_TRUE(b.waitForLog(b.module().ttyPath() + " reopened", 1, b.realMs(3, kMargin)));
  EXPECT_TRUE(complained("Serial device")) << describe();
  expectRecovered("SerialHungUpThenBack", 2 + cLogLimit::kDefaultBurst);
}

}  // namespace
