#include "tests/link/benchTest.h"

namespace {

// Real time of the write that ended the module's reset pulse; -1 if there was none.
double resetReleased(const cSimGpio& gpio) {
  const uint16_t pin = gpio.pinId("BT_RESET");
  double released = -1;
  for (const auto& call : gpio.writes()) {
    for (const cSimGpio::cWrite& w : call) {
      if (w.pin == pin && w.value == 0) released = w.time;
    }
  }
  return released;
}

// Real time of the first write that lit a LED; -1 if there was none.
double firstLit(const cSimGpio& gpio) {
  for (const cBenchLeds::cSample& s : cBenchLeds::samples(gpio)) {
    if (s.red || s.green) return s.time;
  }
  return -1;
}

class StartupTest : public cBenchTest {};

// Once at true speed, without libfaketime: the whole start-up sequence with the real clock.
TEST_F(StartupTest, TrueSpeedSetsUpTheModuleTenSecondsInThenOnlyTicks) {
  cBench& b = start();
  ASSERT_TRUE(b.module().waitForCommand("AT+AB DefaultLocalName", 16000));
  ASSERT_TRUE(b.waitForLog("State tick", 1, 13000));

  std::vector<cSimModule::cCommand> cmds = b.module().commands();
  ASSERT_EQ(3u, cmds.size());
  EXPECT_EQ("AT+AB DisableBond", cmds[0].line);
  EXPECT_EQ("AT+AB EraseBondTable", cmds[1].line);
  EXPECT_EQ("AT+AB DefaultLocalName Bramblefox", cmds[2].line);

  // The link state thread starts when the one-second reset pulse is over and pauses 10 s.
  double released = resetReleased(b.gpio());
  ASSERT_GT(released, 0);
  EXPECT_NEAR(10.0, cmds[0].time - released, 0.7);

  double named = realTimeOf("AP Name set to Bramblefox");
  double tick = realTimeOf("State tick");
  ASSERT_GT(named, 0);
  EXPECT_NEAR(10.0, tick - named, 0.7);

  EXPECT_EQ("red steady", leds(firstLit(b.gpio()), cmds[0].time));
  EXPECT_EQ("dark", leds(named + 0.1, tick + 0.1));

  // After the set-up only the tick is logged.
  std::vector<cBenchLog::cLine> lines = b.log().lines();
  int from = b.log().find("AP Name set to");
  for (size_t i = static_cast<size_t>(from) + 1; i < lines.size(); ++i)
    EXPECT_EQ("State tick", lines[i].message);
}

}  // namespace
