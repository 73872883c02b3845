// The instance, its LED model and the reset line on the simulated GPIO device.
#include <gtest/gtest.h>

#include "io/cIO.h"
#include "tests/io/cIOTestBoard.h"

namespace {

using Records = std::vector<std::pair<int, int>>;

TEST(cIOCreate, NothingIsWrittenBeforeCreateThenDarkThenRed) {
  cIOTestBoard board;
  cIO::setLedMode(1);
  cIO::setLedBlink(1);
  cIO::setLedLit();
  cIO::setResetLine(1);
  cIO::tick();  // returns at once without an instance
  EXPECT_EQ(nullptr, cIO::instance());
  EXPECT_TRUE(board.sim.writes().empty());

  cIO::create(&board.props);
  cIO* io = cIO::instance();
  ASSERT_NE(nullptr, io);
  EXPECT_EQ((std::vector<Records>{board.leds(0, 0), board.leds(1, 0)}), board.writes());
  EXPECT_EQ(1, board.sim.value(board.sim.pinId("LED_BT_RED")));

  cIO::create(&board.props);  // a second create does nothing
  EXPECT_EQ(io, cIO::instance());
  EXPECT_EQ(2u, board.sim.writes().size());
}

TEST(cIOReset, DrivesTheResetPin) {
  cIOTestBoard board;
  cIO::create(&board.props);
  int reset = board.sim.pinId("BT_RESET");
  board.sim.clearWrites();
  cIO::setResetLine(1);
  cIO::setResetLine(5);
  cIO::setResetLine(0);
  EXPECT_EQ((std::vector<Records>{{{reset, 1}}, {{reset, 1}}, {{reset, 0}}}), board.writes());
}

TEST(cIOReset, UnresolvedPinsGoOutAsFFFF) {
  cIOTestBoard board({{"BT_PAIR", 12, 1}});
  cIO::create(&board.props);
  EXPECT_EQ((Records{{0xFFFF, 1}, {0xFFFF, 0}}), board.writes().back());
  cIO::setResetLine(1);
  EXPECT_EQ((Records{{0xFFFF, 1}}), board.writes().back());
}

// Each row starts in the lit phase; the ticks then show what a person sees.
TEST(cIOLeds, ModeAndBlinkOverTicks) {
  struct Row {
    int mode;
    int blink;
    std::vector<std::pair<int, int>> ticks;  // {red, green} written by successive ticks
  };
  const Row rows[] = {
      {0, 0, {{1, 0}, {1, 0}, {1, 0}, {1, 0}}},  {0, 1, {{0, 0}, {1, 0}, {0, 0}, {1, 0}}},
      {1, 0, {{0, 1}, {0, 1}, {0, 1}, {0, 1}}},  {1, 1, {{0, 0}, {0, 1}, {0, 0}, {0, 1}}},
      {2, 0, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}},  {2, 1, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}},
      {-3, 1, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}},
  };
  cIOTestBoard board;
  cIO::create(&board.props);
  for (const Row& row : rows) {
    SCOPED_TRACE("mode " + std::to_string(row.mode) + " blink " + std::to_string(row.blink));
    cIO::setLedBlink(0);
    board.quickTick();  // lit phase
    cIO::setLedMode(row.mode);
    cIO::setLedBlink(row.blink);
    std::vector<std::pair<int, int>> seen;
    for (size_t i = 0; i < row.ticks.size(); ++i) seen.push_back(board.quickTick());
    EXPECT_EQ(row.ticks, seen);
  }
}

TEST(cIOLeds, ChangesShowAtOnceAndLeaveTheBlinkPhase) {
  cIOTestBoard board;
  cIO::create(&board.props);
  cIO::setLedMode(1);
  EXPECT_EQ(board.leds(0, 1), board.writes().back());
  cIO::setLedBlink(1);
  EXPECT_EQ(board.leds(0, 1), board.writes().back());
  EXPECT_EQ(std::make_pair(0, 0), board.quickTick());  // dark phase
  cIO::setLedMode(0);
  EXPECT_EQ(board.leds(0, 0), board.writes().back());
  cIO::setLedBlink(0);  // blink off in a dark phase: dark until the next tick
  EXPECT_EQ(board.leds(0, 0), board.writes().back());
  EXPECT_EQ(std::make_pair(1, 0), board.quickTick());
  EXPECT_EQ(std::make_pair(1, 0), board.quickTick());
}

}  // namespace
