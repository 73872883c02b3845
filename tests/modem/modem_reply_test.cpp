// A reply in the middle of a one-second wait completes the transaction at once, not at the end
// of the wait. The program runs twice as fast as real time (libfaketime), so the gap between the
// two stays large in real time; every time here is in faked seconds.
#include <gtest/gtest.h>

#include <string>

#include "tests/modem/cModemRig.h"

namespace {

double timeOf(const cModemRig& rig, const std::string& text) {
  auto records = rig.log.matching(text);
  return records.empty() ? -1000.0 : records.back().time;
}

TEST(ModemReply, ReplyAfterThreeSecondsCompletesAtOnce) {
  cModemRig rig;
  cOperation op([&] { rig.modem->enableBond(); });
  ASSERT_TRUE(rig.log.waitFor("sending CMD"));
  usleep(3500 * 1000);
  rig.sim.sendLine("AT-AB BondEnabled");
  ASSERT_TRUE(rig.log.waitFor("EnableBond Successful"));
  op.join();
  EXPECT_EQ(3, rig.log.count("waitReply timed out"));
  EXPECT_NEAR(3.5, timeOf(rig, "cmdH: AT-AB BondEnabled") - timeOf(rig, "sending CMD"), 1.5);
  EXPECT_LT(timeOf(rig, "Command OK") - timeOf(rig, "cmdH: "), 0.3);
  EXPECT_EQ(0, rig.log.count("Timed out"));
}

}  // namespace
