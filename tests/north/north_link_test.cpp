#include "bench/cBenchWire.h"
#include "tests/common/freeUdpPort.h"
#include "tests/link/benchTest.h"

namespace {

using cBenchWire::payload;
constexpr int kMargin = cBenchSteps::kMarginMs;

// Under the thread sanitizer, libfaketime crashes the daemon when one of its threads ends (as the
// north thread does when the broker cannot be reached), so those runs keep the true clock there.
#if defined(__SANITIZE_THREAD__)
constexpr int kSpeedWhenNorthEnds = 1;
#else
constexpr int kSpeedWhenNorthEnds = 20;
#endif

class NorthLinkTest : public cBenchTest {
 protected:
  cBench& bringUp(cBenchOptions o, int speed = 20) {
    o.speed = speed;
    cBench& b = start(o);
    EXPECT_TRUE(cBenchSteps::waitStartup(b));
    EXPECT_TRUE(cBenchSteps::connectPeer(b));
    return b;
  }
};

// Without a broker the link still "connects"; what is sent north is lost, the refusals come back
// as read errors, and reading goes on: a broker that turns up later gets the next messages and is
// heard.
TEST_F(NorthLinkTest, AbsentBrokerLosesMessagesUntilOneListens) {
  cBenchOptions o;
  o.brokerPort = freeUdpPort();
  cBench& b = bringUp(o);
  const std::string port = std::to_string(o.brokerPort);
  ASSERT_TRUE(b.waitForLog("North link connected to 127.0.0.1:" + port, 1, kMargin));

  b.module().sendMessage(1, payload(100, 1));
  ASSERT_TRUE(b.waitForLog("North sent 105 bytes", 1, b.realMs(2, kMargin)));
  ASSERT_TRUE(b.waitForLog("Socket Read Error -1", 1, b.realMs(2, kMargin)));
  EXPECT_EQ("WARN", b.log().matching("Socket Read Error")[0].level);

  cSimBroker late(o.brokerPort);
  std::vector<uint8_t> north = payload(2000, 2);
  b.module().sendMessage(2, north);
  ASSERT_TRUE(late.waitForMessages(1, b.realMs(3, kMargin)));
  EXPECT_EQ(north, late.messages()[0].payload);

  std::vector<uint8_t> south = payload(300, 3);
  ASSERT_TRUE(late.waitForPeer(kMargin));
  ASSERT_EQ(1, late.sendMessage(3, south));
  ASSERT_TRUE(b.module().waitForMessages(1, b.realMs(3, kMargin)));
  EXPECT_EQ(south, b.module().messages()[0]);
  EXPECT_LE(b.logCount("Socket Read Error"), 2);
}

// A broker host that does not resolve: one error naming it, no north traffic ever, one transmit
// error per segment the peer sends; the rest of the daemon keeps working.
TEST_F(NorthLinkTest, UnresolvableHostDropsNorthTrafficSegmentBySegment) {
  cBenchOptions o;
  o.brokerHost = "ferryd-no-such-host.invalid";
  cBench& b = bringUp(o, kSpeedWhenNorthEnds);
  std::vector<cBenchLog::cLine> lookup = b.log().matching("Could lookup address for");
  ASSERT_EQ(1u, lookup.size());
  EXPECT_EQ("Could lookup address for ferryd-no-such-host.invalid", lookup[0].message);
  EXPECT_EQ("ERROR", lookup[0].level);

  b.module().sendMessage(1, payload(2500, 1));  // three datagrams' worth
  b.module().sendMessage(2, payload(10, 2));
  ASSERT_TRUE(b.waitForLog("North Tx Error", 4, b.realMs(2, kMargin)));
  b.sleepDaemon(2);
  EXPECT_EQ(4, b.logCount("North Tx Error"));
  EXPECT_EQ("ERROR", b.log().matching("North Tx Error")[0].level);
  EXPECT_EQ(0, b.logCount("North sent"));
  EXPECT_EQ(0, b.logCount("North link connected"));
  EXPECT_TRUE(b.broker().datagrams().empty());

  int ticks = b.logCount("State tick");
  ASSERT_TRUE(b.waitForLog("State tick", ticks + 1, b.realMs(11, kMargin)));
  ASSERT_TRUE(cBenchSteps::disconnectPeer(b));
}

// A broker address the socket cannot connect to (broadcast, not allowed on this socket): a fatal
// line naming host and port, and the daemon runs on without a north link.
TEST_F(NorthLinkTest, FailedConnectIsReportedAndTheDaemonRunsOn) {
  cBenchOptions o;
  o.brokerHost = "255.255.255.255";
  o.brokerPort = 60123;
  cBench& b = bringUp(o, kSpeedWhenNorthEnds);
  std::vector<cBenchLog::cLine> fatal = b.log().matching("Could not connect to");
  ASSERT_EQ(1u, fatal.size());
  EXPECT_EQ("Could not connect to 255.255.255.255:60123", fatal[0].message);
  EXPECT_EQ("FATAL", fatal[0].level);
  EXPECT_EQ(0, b.logCount("North link connected"));

  b.module().sendMessage(1, payload(30, 1));
  ASSERT_TRUE(b.waitForLog("North Tx Error", 1, b.realMs(2, kMargin)));
  EXPECT_EQ(0, b.logCount("North sent"));
  ASSERT_TRUE(cBenchSteps::disconnectPeer(b));
}

// An empty datagram is a unit of no bytes, not a read failure: dropped as an invalid segment and
// reading goes on at once, however many come in a row.
TEST_F(NorthLinkTest, EmptyDatagramsAreDroppedAndReadingGoesOnAtOnce) {
  // At x4 the 0.9 s bound below is 225 ms of real time: a one-second pause still shows, the
  // scheduling delays of a loaded or emulated machine do not.
  cBench& b = bringUp({}, 4);
  ASSERT_TRUE(cBenchSteps::waitNorth(b));
  ASSERT_TRUE(b.broker().sendRaw({}));
  ASSERT_TRUE(b.waitForLog("invalid segment of 0 bytes dropped", 1, b.realMs(1, kMargin)));
  EXPECT_EQ("WARN", b.log().matching("invalid segment of 0 bytes dropped")[0].level);
  std::vector<uint8_t> first = payload(40, 1);
  ASSERT_EQ(1, b.broker().sendMessage(1, first));
  ASSERT_TRUE(b.module().waitForMessages(1, b.realMs(2, kMargin)));

  for (int i = 0; i < 3; ++i) ASSERT_TRUE(b.broker().sendRaw({}));
  std::vector<uint8_t> second = payload(40, 2);
  double sent = cBench::now();
  ASSERT_EQ(1, b.broker().sendMessage(2, second));
  ASSERT_TRUE(b.module().waitForMessages(2, b.realMs(5, kMargin)));
  EXPECT_LT(b.daemonSeconds(cBench::now()) - b.daemonSeconds(sent), 0.9);  // no pause
  EXPECT_EQ(first, b.module().messages()[0]);
  EXPECT_EQ(second, b.module().messages()[1]);
  // The bench reads the daemon's log on a thread of its own: the lines may come in after the
  // message.
  EXPECT_TRUE(b.waitForLog("invalid segment of 0 bytes dropped", 4, b.realMs(1, kMargin)));
  EXPECT_EQ(4, b.logCount("invalid segment of 0 bytes dropped"));
  EXPECT_EQ(0, b.logCount("Socket Read Error"));
}

}  // namespace

// A port beyond 16 bits is not cut to one nobody meant: it is reported and the default used.
TEST(NorthPort, APortOutOfRangeIsReportedAndTheDefaultUsed) {
  cBenchOptions o;
  o.speed = 20;
  o.keys = {{"zam.broker.port", "70000"}};  // 70000 cut to 16 bits is 4464
  cBench b(o);
  ASSERT_TRUE(b.start());
  EXPECT_TRUE(b.waitForLog("zam.broker.port = 70000 is outside 1..65535, using the default 60010"));
  EXPECT_TRUE(b.waitForLog("North link connected to 127.0.0.1:60010")) << b.daemonOutput();
}
