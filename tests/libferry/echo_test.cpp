// The C echo peer (examples/echo_peer.c) on the simulated module's air side of the real daemon:
// every message the broker sends comes back to it whole, once and in order.
#include <unistd.h>

#include "bench/cBench.h"
#include "bench/cBenchSteps.h"
#include "tests/ferrycat/cCatRun.h"
#include "tests/libferry/cCodecTest.h"

namespace {

TEST(EchoPeer, EchoesEveryMessageThroughTheDaemon) {
  cBenchOptions o;
  o.speed = 20;
  o.logLevel = "INFO";
  cBench bench(o);
  std::string air = bench.module().enableAir();
  ASSERT_TRUE(cBenchSteps::startInBypass(bench));

  const int count = 40;
  cCatRun echo(cCatRun::program({ECHO_PEER_BINARY, air, "115200", std::to_string(count)}));
  ASSERT_TRUE(echo.waitForStderr("open at", 30000)) << echo.err();

  ASSERT_TRUE(bench.broker().waitForPeer(cBenchSteps::kMarginMs));
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> m = cCodecTest::awkward(1 + (i * 2477) % 10000, unsigned(i));
    if (i % 5 == 0) m.insert(m.begin(), {'A', 'T', '-', 'A', 'B', 0x7E, 0x7D});
    sent.push_back(m);
    ASSERT_GT(bench.broker().sendMessage(i % 128, m), 0);
    ASSERT_TRUE(bench.broker().waitForMessages(size_t(i + 1), 30000)) << "message " << i;
  }
  std::vector<cSimBroker::cMessage> got = bench.broker().messages();
  ASSERT_EQ(size_t(count), got.size());
  for (int i = 0; i < count; ++i) EXPECT_EQ(sent[size_t(i)], got[size_t(i)].payload) << i;
  EXPECT_EQ(0, echo.wait(10000)) << echo.err();
  EXPECT_NE(std::string::npos, echo.err().find("40 messages echoed, 0 bad frames"));
}

}  // namespace
