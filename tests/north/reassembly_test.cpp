#include "bench/cBenchWire.h"
#include "tests/link/benchTest.h"

namespace {

using cBenchWire::bytes;
using cBenchWire::segment;
using tUnit = std::vector<uint8_t>;
constexpr int kMargin = cBenchSteps::kMarginMs;

// The units of one session that exercises every rule of the reassembly: a new message drops a
// stale partial one, a tail without its start and a skipped index are dropped, invalid units
// change nothing pending, an oversize message is dropped, and the direction still works after.
// The messages that must come through: "B", "C0C1", "fresh".
std::vector<tUnit> session(bool datagrams) {
  std::vector<tUnit> u;
  u.push_back(segment(5, 0, false, bytes("A0")));
  u.push_back(segment(6, 0, true, bytes("B")));
  u.push_back(segment(5, 1, true, bytes("A1")));
  u.push_back(segment(9, 0, false, bytes("D0")));
  u.push_back(segment(9, 2, true, bytes("D2")));

  u.push_back(segment(12, 0, false, bytes("C0")));
  u.push_back({0x8C, 0x01, 0x00});  // shorter than a header
  tUnit cut = segment(12, 1, false, tUnit(100, 'x'));
  cut.resize(55);  // the length field says 100
  u.push_back(cut);
  // A datagram longer than 1024 bytes whose first 1024 bytes are a whole segment; as a frame,
  // one whose length field is too short.
  u.push_back(segment(12, 1, false, tUnit(datagrams ? 1019 : 30, 'y')));
  if (datagrams) u.back().resize(1500, 'q');
  if (!datagrams) u.back()[3] = 20;
  u.push_back(segment(12, 1, true, bytes("C1")));

  for (int i = 0; i < 66; ++i) u.push_back(segment(20, i, i == 65, tUnit(1019, 'z')));
  u.push_back(segment(21, 0, true, bytes("fresh")));
  return u;
}

const std::vector<tUnit> kExpected = {bytes("B"), bytes("C0C1"), bytes("fresh")};

class ReassemblyTest : public cBenchTest {
 protected:
  // Each warning named by its text comes once, from the direction's component.
  void expectWarnings(const std::string& category, const std::string& direction,
                      const std::vector<std::string>& texts) {
    bench().waitForLog(texts.back(), 1, bench().realMs(1, kMargin));
    bench().log().sync();
    for (const std::string& text : texts) {
      std::vector<cBenchLog::cLine> w = bench().log().matching(text, category);
      ASSERT_EQ(1u, w.size()) << text;
      EXPECT_EQ("WARN", w[0].level) << text;
      EXPECT_EQ(0u, w[0].message.find("From " + direction + ": ")) << w[0].message;
    }
  }
};

TEST_F(ReassemblyTest, FromTheBrokerLostAndStraySegmentsNeverWedgeOrGlue) {
  cBench& b = bringUp();
  int received = 0;
  for (const tUnit& unit : session(true)) {
    ASSERT_TRUE(b.broker().sendRaw(unit));
    ASSERT_TRUE(b.waitForLog("bytes from server", ++received, b.realMs(1, kMargin)));
  }
  ASSERT_TRUE(b.module().waitForMessages(3, b.realMs(2, kMargin)));
  b.sleepDaemon(1);
  EXPECT_EQ(kExpected, b.module().messages());
  EXPECT_EQ((std::vector<int>{6, 12, 21}), b.module().messageIds());
  expectWarnings(
      "cLocalMsg", "broker to module",
      {"partial message 5 dropped", "segment 1 of message 5 dropped", "partial message 9 dropped",
       "invalid segment of 3 bytes", "invalid segment of 55 bytes", "invalid segment of 1500 bytes",
       "partial message 20 dropped", "segment 65 of message 20 dropped"});
}

TEST_F(ReassemblyTest, FromThePeerLostAndStraySegmentsNeverWedgeOrGlue) {
  cBench& b = bringUp();
  for (const tUnit& unit : session(false)) {
    tUnit framed = cBenchWire::frame(unit);
    b.module().sendRaw(std::string(framed.begin(), framed.end()));
  }
  ASSERT_TRUE(b.broker().waitForMessages(3, b.realMs(3, kMargin)));
  b.sleepDaemon(1);
  std::vector<tUnit> got;
  for (const cSimBroker::cMessage& m : b.broker().messages()) got.push_back(m.payload);
  EXPECT_EQ(kExpected, got);
  expectWarnings(
      "cBTMsg", "module to broker",
      {"partial message 5 dropped", "segment 1 of message 5 dropped", "partial message 9 dropped",
       "invalid segment of 3 bytes", "invalid segment of 55 bytes", "invalid segment of 35 bytes",
       "partial message 20 dropped", "segment 65 of message 20 dropped"});
  EXPECT_EQ(0, b.logCount("Probably need to bail now"));
}

}  // namespace
