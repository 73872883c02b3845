// A reply in the middle of a one-second wait completes the transaction at once, not at the end
// of the wait. The program runs twice as fast as real time (libfaketime), so the gap between the
// two stays large in real time; every time here is in faked seconds.
#include <gtest/gtest.h>

#include <string>

#include "tests/modem/cModemRig.h"

namespace {

TEST(ModemReply, ReplyAfterThreeSecondsCompletesAtOnce) {
  cModemRig rig;
  cOperation op([&] { rig.modem->enableBond(); });
  ASSERT_TRUE(rig.log.waitFor("sending CMD"));
  usleep(3500 * 1000);
  rig.sim.sendLine("AT-AB BondEnabled");
  ASSERT_TRUE(rig.log.waitFor("EnableBond Successful"));
  op.join();
  EXPECT_EQ(3, rig.log.count("waitReply timed out"));
  EXPECT_NEAR(3.5, rig.timeOf("cmdH: AT-AB BondEnabled") - rig.timeOf("sending CMD"), 1.5);
  EXPECT_LT(rig.timeOf("Command OK") - rig.timeOf("cmdH: "), 0.3);
  EXPECT_EQ(0, rig.log.count("Timed out"));
}

}  // namespace
