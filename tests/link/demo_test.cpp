// The demo's reading of the LEDs: its expectations are only as honest as this judgement. And what
// its keyboard makes of a message command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench/demo/cDemoKeyboard.h"
#include "bench/demo/cDemoLeds.h"

namespace {

using cDemoLeds::cChange;

// LED writes and tick reads as the simulated GPIO device records them: each tick reads (at its
// start) and then rewrites both LEDs; the link manager may write in between.
struct cBoard {
  std::vector<cBenchLeds::cSample> samples;
  std::vector<double> reads;
  double now = 0;

  void write(int red, int green) { samples.push_back({now, red, green}); }
  // One one-second tick that ends with the LEDs at red, green.
  void tick(int red, int green, double seconds = 1.0) {
    reads.push_back(now);
    now += 0.001;
    write(red, green);
    now += seconds - 0.001;
  }
  void blink(int red, int green, int ticks) {
    for (int i = 0; i < ticks; ++i) tick(i % 2 ? 0 : red, i % 2 ? 0 : green);
  }
  std::vector<std::string> views() const {
    std::vector<std::string> out;
    for (const cChange& c : cDemoLeds::changes(samples, reads)) out.push_back(c.view);
    return out;
  }
};

TEST(DemoLeds, StartUpThenDiscoveryThenStandbyWithoutFlickers) {
  cBoard b;
  b.write(1, 0);  // lit at creation, before the first tick
  for (int i = 0; i < 10; ++i) b.tick(1, 0);
  b.now -= 0.5;
  b.write(0, 0);  // the module is set up: dark within the tick
  b.now += 0.5;
  for (int i = 0; i < 4; ++i) b.tick(0, 0);
  double pairing = b.now + 0.3;
  b.blink(1, 0, 8);
  double standby = b.now;
  for (int i = 0; i < 4; ++i) b.tick(0, 0);
  // Flickers are not a view a person would report: a change undone within the tick, and red for
  // one tick only.
  b.write(1, 0);
  b.write(0, 0);
  b.tick(0, 0);
  b.tick(1, 0);
  for (int i = 0; i < 4; ++i) b.tick(0, 0);

  std::vector<cChange> c = cDemoLeds::changes(b.samples, b.reads);
  ASSERT_EQ((std::vector<std::string>{"red steady", "dark", "red blinking", "dark"}), b.views());
  EXPECT_DOUBLE_EQ(0.0, c[0].time);
  EXPECT_NEAR(9.5, c[1].time, 1e-9);  // the write itself, not the next tick
  EXPECT_LT(c[2].time, pairing);
  EXPECT_GE(c[3].time, standby - 1.0);
}

// A late tick on a busy machine leaves a blinking LED blinking; green blinking that stops
// toggling is green steady from the first tick that did not turn it off.
TEST(DemoLeds, LateTickStaysBlinkingAndSteadyIsToldByTheMissingToggle) {
  cBoard b;
  for (int i = 0; i < 3; ++i) b.tick(0, 0);
  b.blink(0, 1, 4);
  b.tick(0, 1, 2.5);  // late
  b.tick(0, 0);
  b.tick(0, 1);
  double steady = b.now;
  for (int i = 0; i < 4; ++i) b.tick(0, 1);
  EXPECT_EQ((std::vector<std::string>{"dark", "green blinking", "green steady"}), b.views());
  EXPECT_NEAR(steady, cDemoLeds::changes(b.samples, b.reads).back().time, 1e-9);
}

// What follows "n" or "s" at the keyboard: nothing, a byte count, or the text to send; a count
// out of range is refused with one line.
TEST(DemoKeyboard, MessageIsACountOrAText) {
  cDemoKeyboard::cMessageArg m;
  std::string problem;
  ASSERT_TRUE(cDemoKeyboard::parseMessageArg("", &m, &problem));
  EXPECT_FALSE(m.isText);
  EXPECT_EQ(600u, m.bytes);
  ASSERT_TRUE(cDemoKeyboard::parseMessageArg(" 300 ", &m, &problem));
  EXPECT_FALSE(m.isText);
  EXPECT_EQ(300u, m.bytes);
  ASSERT_TRUE(cDemoKeyboard::parseMessageArg(" hello there ", &m, &problem));
  EXPECT_TRUE(m.isText);
  EXPECT_EQ("hello there", m.text);
  for (const char* bad : {"65536", "-5", "99999999999999999999"}) {
    EXPECT_FALSE(cDemoKeyboard::parseMessageArg(bad, &m, &problem)) << bad;
    EXPECT_EQ("a message holds 0 to 65535 bytes", problem) << bad;
  }
}

}  // namespace
