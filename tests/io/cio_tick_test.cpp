// The tick: the pairing-button hold and the one-second wait for the device.
#include <gtest/gtest.h>
#include <time.h>

#include "io/cIO.h"
#include "tests/common/cLogCapture.h"
#include "tests/io/cIOTestBoard.h"

namespace {

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int pairings(const cLogCapture& log) {
  return log.count("Enable Pairing", "cIO");
}

TEST(cIOButton, HeldThreeTicksEnablesPairingAndAgainEveryTick) {
  cLogCapture log;
  cIOTestBoard board;
  cIO::create(&board.props);
  board.sim.press();
  std::vector<int> seen;
  for (int i = 0; i < 5; ++i) {
    board.quickTick();
    seen.push_back(pairings(log));
  }
  EXPECT_EQ((std::vector<int>{0, 0, 1, 2, 3}), seen);
}

TEST(cIOButton, ReleaseOrFailedReadStartsTheCountAgain) {
  cLogCapture log;
  cIOTestBoard board;
  cIO::create(&board.props);
  board.sim.press();
  board.quickTick();
  board.quickTick();
  board.sim.release();
  board.quickTick();
  board.sim.press();
  board.quickTick();
  board.quickTick();
  EXPECT_EQ(0, pairings(log));
  board.quickTick();
  EXPECT_EQ(1, pairings(log));

  board.sim.setReadFails(true);  // a failed read in the middle of a hold is a release
  board.quickTick();
  board.sim.setReadFails(false);
  board.quickTick();
  board.quickTick();
  EXPECT_EQ(1, pairings(log));
  board.quickTick();
  EXPECT_EQ(2, pairings(log));

  board.sim.setCountReply(-1);  // so is a failed count request
  board.quickTick();
  board.sim.setCountReply(std::nullopt);
  board.quickTick();
  board.quickTick();
  EXPECT_EQ(2, pairings(log));
}

TEST(cIOButton, AMissingButtonPinNeverEnablesPairing) {
  cLogCapture log;
  cIOTestBoard board({{"LED_BT_RED", 20, 0}, {"LED_BT_GREEN", 21, 0}, {"KEY", 22, 0}});
  cIO::create(&board.props);
  for (int i = 0; i < 4; ++i) board.quickTick();  // the button reads the byte count, 12
  EXPECT_EQ(0, pairings(log));
}

TEST(cIOTick, WaitsAtMostOneSecondAndWakesOnInput) {
  cIOTestBoard board;
  cIO::create(&board.props);
  double start = now();
  cIO::tick();
  double idle = now() - start;
  EXPECT_GT(idle, 0.9);
  EXPECT_LT(idle, 1.5);

  start = now();
  board.sim.press();  // the input change wakes the tick
  cIO::tick();
  EXPECT_LT(now() - start, 0.5);
  // The read took the input-ready away: the next tick waits again.
  start = now();
  cIO::tick();
  EXPECT_GT(now() - start, 0.9);
}

}  // namespace
