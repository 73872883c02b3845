#include <gtest/gtest.h>

#include <string>

#include "tests/modem/cModemRig.h"

namespace {

// The three lines of a pairing URC handled with no command pending.
void expectBondOk(const cModemRig& rig, int n = 1) {
  EXPECT_TRUE(rig.log.waitFor("Bond Ok (pairing) URC", n));
  EXPECT_EQ(n, rig.log.count("Received: AT-AB BondOk"));
  EXPECT_EQ(n, rig.log.count("Definitely URC"));
  EXPECT_EQ(n, rig.log.count("Bond Ok (pairing) URC"));
}

TEST(ModemReceive, PairingUrcWholeSplitOrWithCrInside) {
  cModemRig rig;
  rig.sim.sendLine("AT-AB BondOk");
  expectBondOk(rig, 1);
  ASSERT_TRUE(rig.sendRead("AT-AB Bo"));
  EXPECT_EQ(1, rig.log.count("LF"));  // the first half ended no line
  rig.sim.sendRaw("ndOk\r\n");
  expectBondOk(rig, 2);
  rig.sim.sendRaw("AT-AB Bon\rdOk\n");
  expectBondOk(rig, 3);
  EXPECT_EQ(3, rig.log.count("LF"));
}

TEST(ModemReceive, LinesThatAreNotUrcs) {
  cModemRig rig;
  rig.sim.sendLine("AT-AB");
  rig.sim.sendLine("XT-AB BondOk");
  rig.sim.sendRaw("\r\n");
  ASSERT_TRUE(rig.log.waitFor("Received: ", 3));
  ASSERT_TRUE(rig.log.waitFor("Not enough args for a URC", 2));
  auto received = rig.log.matching("Received: ");
  EXPECT_EQ("Received: AT-AB", received[0].message);
  EXPECT_EQ("Received: XT-AB BondOk", received[1].message);
  EXPECT_EQ("Received: ", received[2].message);
  EXPECT_EQ(0, rig.log.count("Definitely URC"));
  EXPECT_EQ(0, rig.log.count("Bond Ok"));
}

TEST(ModemReceive, EveryStatusLineOfTheTable) {
  cModemRig rig;
  const char* rows[][2] = {{"BDAddress 0016A4B1C2D3", "BDAddress URC"},
                           {"-CommandMode-", "Command Mode URC"},
                           {"ConnectionDown", "Connection Down URC"},
                           {"Fancy Words", "Unknown URC Fancy"}};
  for (auto& r : rows) rig.sim.sendLine(std::string("AT-AB ") + r[0]);
  ASSERT_TRUE(rig.log.waitFor("Definitely URC", 4));
  ASSERT_TRUE(rig.log.waitFor("Unknown URC Fancy"));
  for (auto& r : rows) EXPECT_EQ(1, rig.log.count(r[1])) << r[0];
  EXPECT_FALSE(rig.modem->inBypass());
}

// A status line that arrives while a command waits is acted on, and the command still completes
// on its own reply.
TEST(ModemReceive, StatusLineWhilePendingIsActedOn) {
  cModemRig rig;
  cOperation op([&] { rig.modem->enableBond(); });
  ASSERT_TRUE(rig.log.waitFor("sending CMD: 18: AT+AB EnableBond\r\n \n"));
  rig.sim.sendLine("AT-AB BondOk");
  ASSERT_TRUE(rig.log.waitFor("Bond Ok (pairing) URC"));
  rig.sim.sendLine("AT-AB BondEnabled");
  ASSERT_TRUE(rig.log.waitFor("EnableBond Successful"));
  op.join();
  EXPECT_EQ(1, rig.log.count("cmdH: "));
  EXPECT_EQ(1, rig.log.count("cmdH: AT-AB BondEnabled"));
}

// Bytes after "-BypassMode-" in the same read are unframed: here they start with the escape, so
// bypass mode ends within the read and the status line after it is read whole.
TEST(ModemReceive, BypassModeStartsAfterItsLine) {
  cModemRig rig;
  ASSERT_TRUE(rig.sendRead("AT-AB -BypassMode-\r\nAT-AB BondOk\r\n"));
  ASSERT_TRUE(rig.log.waitFor("Bond Ok (pairing) URC"));
  EXPECT_EQ(1, rig.log.count("BypassMode Enabled URC"));
  EXPECT_EQ(1, rig.log.count("Probably need to bail now"));
  EXPECT_EQ(1, rig.log.count("Received: AT-AB BondOk"));
  EXPECT_EQ(1, rig.log.count("Bond Ok (pairing) URC"));
  EXPECT_FALSE(rig.modem->inBypass());
  ASSERT_TRUE(rig.sendRead("AT-AB -BypassMode-\r\nxx BondOk\r\n"));
  EXPECT_TRUE(cModemRig::waitUntil([&] { return rig.modem->inBypass(); }));
  EXPECT_EQ(3, rig.log.count("Received: "));
  ASSERT_TRUE(rig.sendRead("AT-AB ConnectionDown\r\n"));
  ASSERT_TRUE(rig.log.waitFor("Connection Down URC"));
  EXPECT_EQ(1, rig.log.count("Received: AT-AB ConnectionDown"));
  EXPECT_EQ(1, rig.log.count("Connection Down URC"));
  EXPECT_FALSE(rig.modem->inBypass());
}

// A line over 1023 characters is cut there with one warning; the next line is intact. The cut
// is placed so that only a line of exactly 1023 characters ends in the word "BondOk".
TEST(ModemReceive, OverlongLineIsCutAndTheNextLineIsWhole) {
  cModemRig rig;
  std::string longLine = "AT-AB" + std::string(1023 - 5 - 6, ' ') + "BondOk";
  longLine += std::string(5000 - longLine.size(), 'z');
  for (size_t at = 0; at < longLine.size(); at += 1000) rig.sim.sendRaw(longLine.substr(at, 1000));
  rig.sim.sendRaw("\nAT-AB BondOk\r\n");
  ASSERT_TRUE(rig.log.waitFor("Bond Ok (pairing) URC", 2));
  EXPECT_EQ(0, rig.log.count("Unknown URC"));
  EXPECT_EQ(1, rig.log.count("Received: AT-AB BondOk"));
  auto warnings = rig.log.matching("Line longer than 1023 characters");
  ASSERT_EQ(1u, warnings.size());
  EXPECT_EQ("WARN", warnings[0].level);
}

}  // namespace
