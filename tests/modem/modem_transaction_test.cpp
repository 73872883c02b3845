// Transaction timing. The program runs with its clocks sped up by libfaketime; every time here is
// in faked seconds.
#include <gtest/gtest.h>

#include <string>

#include "tests/modem/cModemRig.h"

namespace {

const double kMargin = 1.5;

// Runs an operation that gets no reply: one "waitReply timed out" a second, then "Timed out".
void expectTimeout(void (cBTModem::*operation)(), int seconds, const char* success) {
  cModemRig rig;
  cOperation op([&] { (rig.modem->*operation)(); });
  ASSERT_TRUE(rig.log.waitFor("Timed out", 1, (seconds + 20) * 1000));
  op.join();
  EXPECT_EQ(seconds, rig.log.count("waitReply timed out"));
  // No wait ends early; load can only make each of them late, and the lateness adds up over the
  // waits (the count above shows there were no more of them).
  double elapsed = rig.timeOf("Timed out") - rig.timeOf("sending CMD");
  EXPECT_GE(elapsed, seconds - 0.05);
  EXPECT_LT(elapsed, seconds * 1.25);
  EXPECT_EQ(0, rig.log.count(success));
  EXPECT_EQ(0, rig.log.count("Command OK"));
}

TEST(ModemTransaction, NoReplyTimesOutAfterElevenSeconds) {
  expectTimeout(&cBTModem::enableBond, 11, "EnableBond Successful");
}

TEST(ModemTransaction, InquiryScanWaitsSixtyOneSeconds) {
  expectTimeout(&cBTModem::disableDiscovery, 61, "Discovery Disabled Successfully");
}

TEST(ModemTransaction, NonMatchingLineRenewsTheWaitBudget) {
  cModemRig rig;
  cOperation op([&] { rig.modem->eraseBondTable(); });
  ASSERT_TRUE(rig.log.waitFor("sending CMD"));
  usleep(5 * 1000 * 1000);
  rig.sim.sendLine("AT-AB BondDisabled");
  ASSERT_TRUE(rig.log.waitFor("Timed out", 1, 30000));
  op.join();
  double sent = rig.timeOf("sending CMD");
  EXPECT_NEAR(5.0, rig.timeOf("cmdH: AT-AB BondDisabled") - sent, kMargin);
  EXPECT_NEAR(10.0, rig.timeOf("Timed out") - rig.timeOf("cmdH: "), kMargin);
  EXPECT_NEAR(15.0, rig.timeOf("Timed out") - sent, kMargin);
  EXPECT_EQ(0, rig.log.count("EraseBondTable Successful"));
}

}  // namespace
