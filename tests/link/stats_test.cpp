#include "bench/cBenchWire.h"
#include "tests/link/benchTest.h"

namespace {

constexpr int kMargin = cBenchSteps::kMarginMs;

class StatsTest : public cBenchTest {
 protected:
  cBench& startWith(const std::string& interval) {
    cBenchOptions o;
    o.speed = 20;
    o.keys.push_back({"ferryd.stats.interval", interval});
    return start(o);
  }
  std::string summary(int n) {
    std::vector<cBenchLog::cLine> lines = bench().log().matching("Counters: ");
    if (static_cast<int>(lines.size()) <= n) return "";
    return lines[n].level + " " + lines[n].category + " " + lines[n].message;
  }
};

// One INFO line of the counters per interval, only when one of them moved since the last.
TEST_F(StatsTest, SummaryEveryIntervalWhenSomethingChanged) {
  cBench& b = startWith("30");
  ASSERT_TRUE(cBenchSteps::waitStartup(b));
  ASSERT_TRUE(cBenchSteps::connectPeer(b));
  ASSERT_TRUE(cBenchSteps::waitNorth(b));
  ASSERT_GT(b.broker().sendMessage(4, cBenchWire::payload(100, 4)), 0);
  ASSERT_TRUE(b.module().waitForMessages(1, b.realMs(2, kMargin)));
  b.module().sendMessage(5, cBenchWire::payload(50, 5));
  ASSERT_TRUE(b.broker().waitForMessages(1, b.realMs(2, kMargin)));

  ASSERT_TRUE(b.waitForLog("Counters: ", 1, b.realMs(45, kMargin)));
  std::string first = summary(0);
  EXPECT_EQ(0u, first.find("INFO cBTMsg Counters: south messages=1 bytes=100 invalid=0")) << first;
  EXPECT_NE(std::string::npos, first.find("; north messages=1 bytes=50 invalid=0")) << first;
  EXPECT_NE(std::string::npos, first.find("bad-fcs=0")) << first;

  b.sleepDaemon(70);  // two intervals without a change
  EXPECT_EQ(1, b.logCount("Counters: "));
  ASSERT_TRUE(b.broker().sendRaw({1, 2, 3}));
  ASSERT_TRUE(b.waitForLog("Counters: ", 2, b.realMs(45, kMargin)));
  EXPECT_NE(std::string::npos, summary(1).find("south messages=1 bytes=100 invalid=1"))
      << summary(1);
}

// Bad values are reported with the file, the key, the value and the default used.
TEST_F(StatsTest, BadIntervalIsReportedAndTheDefaultUsed) {
  for (const char* value : {"-5", "ten"}) {
    cBench& b = startWith(value);
    ASSERT_TRUE(b.waitForLog("ferryd.stats.interval", 1, b.realMs(2, kMargin))) << value;
    std::vector<cBenchLog::cLine> w = b.log().matching("ferryd.stats.interval");
    EXPECT_EQ("WARN", w[0].level);
    EXPECT_NE(std::string::npos, w[0].message.find(value)) << w[0].message;
    EXPECT_NE(std::string::npos, w[0].message.find("default 600")) << w[0].message;
    EXPECT_EQ(0u, w[0].message.find(b.configPath() + ": ")) << w[0].message;
  }
}

}  // namespace
