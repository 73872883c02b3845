// The GPIO device failing its requests in the middle of a run, on the real daemon.
#include "tests/link/faultTest.h"

namespace {

class GpioFaultTest : public cFaultTest {
 protected:
  void failAll(bool fail) {
    cSimGpio& g = bench().gpio();
    g.setCountReply(fail ? std::optional<int>(-1) : std::nullopt);
    g.setReadFails(fail);
    g.setWriteFails(fail);
  }
};

// With every request failing and input reported ready (the button pressed meanwhile), the tick
// must not spin; it says so once, and once the device answers again the button and the LEDs
// work and the relay never stopped.
TEST_F(GpioFaultTest, EveryRequestFailingMidRun) {
  cBench& b = bringUp();
  failAll(true);
  b.gpio().press();
  double busy = cBenchProc::cpuOver(b.pid(), 2.0);  // forty ticks of the daemon's clock
  EXPECT_LE(busy, 2 * kIdleCpu) << "the tick spins while the device fails";
  b.gpio().release();
  failAll(false);
  size_t writes = b.gpio().writes().size();
  EXPECT_TRUE(b.gpio().waitWrites(writes + 2, b.realMs(3, kMargin)));
  EXPECT_TRUE(cBenchSteps::pressForPairing(b));
  printf("GPIO failing: %.2f s CPU over 2 s\n", busy);
  expectRecovered("GpioEveryRequestFailing", 4);
}

}  // namespace
