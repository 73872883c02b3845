// Transaction timing. The program runs with its clocks sped up by libfaketime; every time here is
// in faked seconds.
#include <gtest/gtest.h>

#include <string>

#include "tests/modem/cModemRig.h"

namespace {

const double kMargin = 1.5;

double timeOf(const cModemRig& rig, const std::string& text) {
  auto records = rig.log.matching(text);
  return records.empty() ? -1000.0 : records.back().time;
}

TEST(ModemTransaction, NoReplyTimesOutAfterElevenSeconds) {
  cModemRig rig;
  cOperation op([&] { rig.modem->enableBond(); });
  ASSERT_TRUE(rig.log.waitFor("Timed out", 1, 20000));
  op.join();
  EXPECT_EQ(11, rig.log.count("waitReply timed out"));
  EXPECT_NEAR(11.0, timeOf(rig, "Timed out") - timeOf(rig, "sending CMD"), kMargin);
  EXPECT_EQ(0, rig.log.count("EnableBond Successful"));
  EXPECT_EQ(0, rig.log.count("Command OK"));
}

TEST(ModemTransaction, InquiryScanWaitsSixtyOneSeconds) {
  cModemRig rig;
  cOperation op([&] { rig.modem->disableDiscovery(); });
  ASSERT_TRUE(rig.log.waitFor("Timed out", 1, 80000));
  op.join();
  EXPECT_EQ(1, rig.log.count("sending CMD: 35: AT+AB UpdateInquiryScan 0 18 2048\r\n \n"));
  EXPECT_EQ(61, rig.log.count("waitReply timed out"));
  EXPECT_NEAR(61.0, timeOf(rig, "Timed out") - timeOf(rig, "sending CMD"), kMargin);
  EXPECT_EQ(0, rig.log.count("Discovery Disabled Successfully"));
}

TEST(ModemTransaction, NonMatchingLineRenewsTheWaitBudget) {
  cModemRig rig;
  cOperation op([&] { rig.modem->eraseBondTable(); });
  ASSERT_TRUE(rig.log.waitFor("sending CMD"));
  usleep(5 * 1000 * 1000);
  rig.sim.sendLine("AT-AB BondDisabled");
  ASSERT_TRUE(rig.log.waitFor("Timed out", 1, 30000));
  op.join();
  double sent = timeOf(rig, "sending CMD");
  EXPECT_NEAR(5.0, timeOf(rig, "cmdH: AT-AB BondDisabled") - sent, kMargin);
  EXPECT_NEAR(10.0, timeOf(rig, "Timed out") - timeOf(rig, "cmdH: "), kMargin);
  EXPECT_NEAR(15.0, timeOf(rig, "Timed out") - sent, kMargin);
  EXPECT_EQ(0, rig.log.count("EraseBondTable Successful"));
}

}  // namespace
