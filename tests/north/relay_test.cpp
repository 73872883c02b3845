#include <algorithm>
#include <thread>

#include "bench/cBenchWire.h"
#include "tests/link/benchTest.h"

namespace {

using cBenchWire::payload;
constexpr int kMargin = cBenchSteps::kMarginMs;

class RelayTest : public cBenchTest {
 protected:
  int wait() { return bench().realMs(2, kMargin); }
};

size_t count(const std::vector<size_t>& sizes, size_t value) {
  return static_cast<size_t>(std::count(sizes.begin(), sizes.end(), value));
}

TEST_F(RelayTest, BrokerToPeerInSegmentsOfTheDefault256) {
  cBench& b = bringUp();
  std::vector<uint8_t> small = payload(100, 1);
  ASSERT_EQ(1, b.broker().sendMessage(3, small));
  ASSERT_TRUE(b.module().waitForMessages(1, wait()));
  EXPECT_EQ(std::vector<size_t>{105}, b.module().segmentSizes());
  expectLogCount(1, "Received 105 bytes from server");
  expectLogCount(1, "BTModem sent 105 bytes");

  std::vector<uint8_t> big = payload(3000, 2);
  ASSERT_EQ(3, b.broker().sendMessage(4, big));
  ASSERT_TRUE(b.module().waitForMessages(2, wait()));
  std::vector<std::vector<uint8_t>> got = b.module().messages();
  EXPECT_EQ(small, got[0]);
  EXPECT_EQ(big, got[1]);
  EXPECT_EQ((std::vector<int>{3, 4}), b.module().messageIds());
  std::vector<size_t> sizes = b.module().segmentSizes();
  ASSERT_EQ(13u, sizes.size());  // 1 + 3000 bytes in 251-byte pieces
  EXPECT_EQ(11u, count(sizes, 256));
  EXPECT_EQ(244u, sizes.back());
  expectLogCount(13, "BTModem sent");
}

TEST_F(RelayTest, PeerToBrokerInDatagramsOfAtMost1024) {
  cBench& b = bringUp();
  std::vector<uint8_t> big = payload(3000, 4);
  b.module().sendMessage(7, big, 256);
  ASSERT_TRUE(b.broker().waitForMessages(1, wait()));
  std::vector<uint8_t> small = payload(50, 5);
  b.module().sendMessage(8, small, 256);
  ASSERT_TRUE(b.broker().waitForMessages(2, wait()));

  std::vector<cSimBroker::cDatagram> d = b.broker().datagrams();
  ASSERT_EQ(4u, d.size());
  EXPECT_EQ(1024u, d[0].bytes.size());
  EXPECT_EQ(1024u, d[1].bytes.size());
  EXPECT_EQ(967u, d[2].bytes.size());
  EXPECT_EQ(55u, d[3].bytes.size());
  std::vector<cSimBroker::cMessage> m = b.broker().messages();
  EXPECT_EQ(7, m[0].id);
  EXPECT_EQ(big, m[0].payload);
  EXPECT_EQ(8, m[1].id);
  EXPECT_EQ(small, m[1].payload);
  expectLogCount(2, "North sent 1024 bytes");
  expectLogCount(1, "North sent 967 bytes");
  expectLogCount(1, "North sent 55 bytes");
}

// In command mode the segments are handed to the driver and logged, but nothing reaches the
// serial line.
TEST_F(RelayTest, SouthInCommandModeIsLoggedButNeverWritten) {
  cBench& b = bringUp({}, false);
  b.log().sync();
  const size_t written = b.module().bytesReceived();
  const int transmitted = b.logCount("Transmitting");
  ASSERT_EQ(3, b.broker().sendMessage(6, payload(600, 6), 256));
  ASSERT_TRUE(b.waitForLog("BTModem sent", 3, wait()));
  b.sleepDaemon(3);
  expectLogCount(2, "BTModem sent 256 bytes");
  expectLogCount(1, "BTModem sent 103 bytes");
  EXPECT_EQ(written, b.module().bytesReceived());
  EXPECT_EQ(transmitted, b.logCount("Transmitting"));
  EXPECT_TRUE(b.module().messages().empty());
}

// Both directions at once: the north thread writes frames to the module while the reader thread
// sends datagrams north (run under TSan in the threaded set).
TEST_F(RelayTest, TrafficBothWaysAtOnceArrivesWholeAndInOrder) {
  cBench& b = bringUp();
  const int kCount = 30;
  auto size = [](int i) { return static_cast<size_t>(1 + (i * 397) % 2600); };
  std::thread south([&] {
    for (int i = 0; i < kCount; ++i) b.broker().sendMessage(i, payload(size(i), i));
  });
  std::thread north([&] {
    for (int i = 0; i < kCount; ++i) b.module().sendMessage(64 + i, payload(size(i), 100 + i));
  });
  south.join();
  north.join();
  ASSERT_TRUE(b.module().waitForMessages(kCount, b.realMs(10, kMargin)));
  ASSERT_TRUE(b.broker().waitForMessages(kCount, b.realMs(10, kMargin)));

  std::vector<std::vector<uint8_t>> atPeer = b.module().messages();
  std::vector<cSimBroker::cMessage> atBroker = b.broker().messages();
  ASSERT_EQ(static_cast<size_t>(kCount), atPeer.size());
  ASSERT_EQ(static_cast<size_t>(kCount), atBroker.size());
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(payload(size(i), i), atPeer[static_cast<size_t>(i)]) << "south " << i;
    EXPECT_EQ(payload(size(i), 100 + i), atBroker[static_cast<size_t>(i)].payload) << "north " << i;
  }
  EXPECT_EQ(0u, b.module().droppedFrames());
}

}  // namespace
