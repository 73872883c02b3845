#include "bench/cBenchWire.h"
#include "tests/link/benchTest.h"

namespace {

constexpr int kMargin = cBenchSteps::kMarginMs;

class SegSizeTest : public cBenchTest {
 protected:
  // Starts the daemon with the given "ferryd.io.segsize" text, connects the peer and relays one
  // message of n bytes from the broker; returns the segment sizes the peer received.
  std::vector<size_t> relayWith(const std::string& segsize, size_t n) {
    cBenchOptions o;
    o.speed = 20;
    o.keys.push_back({"ferryd.io.segsize", segsize});
    cBench& b = start(o);
    EXPECT_TRUE(cBenchSteps::waitStartup(b));
    EXPECT_TRUE(cBenchSteps::connectPeer(b));
    EXPECT_TRUE(cBenchSteps::waitNorth(b));
    std::vector<uint8_t> payload = cBenchWire::payload(n, 9);
    EXPECT_GT(b.broker().sendMessage(9, payload), 0);
    EXPECT_TRUE(b.module().waitForMessages(1, b.realMs(2, kMargin)));
    if (b.module().messages().empty()) return {};
    EXPECT_EQ(payload, b.module().messages()[0]);
    return b.module().segmentSizes();
  }
  size_t largest(const std::vector<size_t>& sizes) {
    size_t m = 0;
    for (size_t s : sizes) m = std::max(m, s);
    return m;
  }
  std::string warning() {
    std::vector<cBenchLog::cLine> w = bench().log().matching("ferryd.io.segsize", "cBTMsg");
    return w.empty() ? "" : w[0].level + " " + w[0].message;
  }
};

// A segment size whose segment carries no payload byte is refused at start-up: warning with the
// key, the value and the default, and the daemon relays with 256.
TEST_F(SegSizeTest, TooSmallIsReportedAndTheDefaultUsed) {
  std::vector<size_t> sizes = relayWith("5", 1000);
  EXPECT_EQ(256u, largest(sizes));
  EXPECT_EQ(4u, sizes.size());
  std::string w = warning();
  EXPECT_EQ(0u, w.find("WARN "));
  EXPECT_NE(std::string::npos, w.find("= 5 ")) << w;
  EXPECT_NE(std::string::npos, w.find("default 256")) << w;
}

// One byte over the largest segment whose frame fits the modem's 2048-byte buffer.
TEST_F(SegSizeTest, TooLargeIsReportedAndTheDefaultUsed) {
  std::vector<size_t> sizes = relayWith("1022", 3000);
  EXPECT_EQ(256u, largest(sizes));
  std::string w = warning();
  EXPECT_NE(std::string::npos, w.find("= 1022 ")) << w;
  EXPECT_NE(std::string::npos, w.find("default 256")) << w;
}

TEST_F(SegSizeTest, NegativeIsReportedAndTheDefaultUsed) {
  EXPECT_EQ(256u, largest(relayWith("-40", 600)));
  EXPECT_NE(std::string::npos, warning().find("= -40 ")) << warning();
}

// The limits themselves are accepted: 1021-byte segments fill the send buffer exactly, 6-byte
// segments carry one payload byte each.
TEST_F(SegSizeTest, LargestAcceptedSegmentsFillTheBuffer) {
  std::vector<size_t> sizes = relayWith("1021", 3000);
  EXPECT_EQ(1021u, largest(sizes));
  EXPECT_EQ(3u, sizes.size());
  EXPECT_EQ("", warning());
}

TEST_F(SegSizeTest, SmallestAcceptedSegmentsCarryOneByte) {
  std::vector<size_t> sizes = relayWith("6", 120);
  EXPECT_EQ(120u, sizes.size());
  EXPECT_EQ(6u, largest(sizes));
  EXPECT_EQ("", warning());
}

}  // namespace
