#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/modem/cModemRig.h"

namespace {

// Line ends the driver took: its "LF" lines, counted whole. A count of lines that merely contain
// "LF" also finds the pseudo-terminal's random name when that holds the two letters.
int lineEnds(const cModemRig& rig) {
  int n = 0;
  for (const cLogCapture::Record& r : rig.log.matching("LF")) n += r.message == "LF" ? 1 : 0;
  return n;
}

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
  EXPECT_EQ(1, lineEnds(rig));  // the first half ended no line
  rig.sim.sendRaw("ndOk\r\n");
  expectBondOk(rig, 2);
  rig.sim.sendRaw("AT-AB Bon\rdOk\n");
  expectBondOk(rig, 3);
  EXPECT_EQ(3, lineEnds(rig));
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

// The send side: frames go out only in bypass mode, and only when the peer can unframe them.
TEST(ModemReceive, SendFrameWritesOnlyInBypassMode) {
  cModemRig rig;
  std::vector<unsigned char> seg = segmentOf(5, "to the peer");
  rig.modem->sendFrame(seg.data(), static_cast<int>(seg.size()));
  usleep(200 * 1000);
  EXPECT_EQ(0u, rig.sim.bytesReceived());
  EXPECT_EQ(0, rig.log.count("Transmitting"));

  ASSERT_TRUE(rig.enterBypass());
  rig.modem->sendFrame(seg.data(), static_cast<int>(seg.size()));
  ASSERT_TRUE(rig.sim.waitForMessages(1, 2000));
  EXPECT_EQ(std::vector<uint8_t>({'t', 'o', ' ', 't', 'h', 'e', ' ', 'p', 'e', 'e', 'r'}),
            rig.sim.messages()[0]);
  EXPECT_EQ(std::vector<size_t>{seg.size()}, rig.sim.segmentSizes());

  // A payload the peer could not unframe is refused, not written.
  std::vector<unsigned char> big(cHDLC::kMaxPayload + 1, 0x55);
  size_t before = rig.sim.bytesReceived();
  rig.modem->sendFrame(big.data(), static_cast<int>(big.size()));
  EXPECT_EQ(1, rig.log.count("Frame payload of 1025 bytes dropped"));
  usleep(200 * 1000);
  EXPECT_EQ(before, rig.sim.bytesReceived());
}

}  // namespace
