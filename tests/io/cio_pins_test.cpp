// Pin access on the simulated GPIO device: name lookup, reads, writes and device failures.
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

TEST(cIOPins, NamesIgnoreCaseLastDuplicateWinsAndIdZeroIsValid) {
  cLogCapture log;
  cIOTestBoard board({{"bt_pair", 0, 1},
                      {"BT_RESET", 7, 0},
                      {"LED_BT_RED", 5, 0},
                      {"Led_Bt_Green", 3, 0},
                      {"LED_BT_RED", 9, 0}});
  cIO io(&board.props);
  EXPECT_GE(io.fd(), 0);
  EXPECT_EQ(0, io.pairPin());
  EXPECT_EQ(7, io.resetPin());
  EXPECT_EQ(9, io.redPin());
  EXPECT_EQ(3, io.greenPin());
  // Pin 0 is read like any other.
  EXPECT_EQ(1, io.readPin(0));
  EXPECT_EQ(4, io.writePin(0, 1));
  EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 1}}), board.writes().back());
  // A name that is only a prefix of a pin's name, or longer than it, is not that pin.
  EXPECT_EQ(-1, io.findPin(io.fd(), "BT_PAI"));
  EXPECT_EQ(-1, io.findPin(io.fd(), "BT_PAIRS"));
  EXPECT_EQ(0, log.count("", "cIO"));  // pin operations report nothing
}

TEST(cIOPins, NameCompareEndsAfterSixteenBytes) {
  // The last entry's name fills all 16 bytes without a NUL: the compare must not read past the
  // table (the sanitizer build catches a read beyond the buffer).
  cIOTestBoard board({{"BT_PAIR", 1, 1}, {"ABCDEFGHIJKLMNOP", 2, 0}});
  cIO io(&board.props);
  EXPECT_EQ(2, io.findPin(io.fd(), "abcdefghijklmnop"));
  EXPECT_EQ(-1, io.findPin(io.fd(), "ABCDEFGHIJKLMNOPQ"));
  EXPECT_EQ(-1, io.findPin(io.fd(), "ABCDEFGHIJKLMNO"));
  EXPECT_EQ(-1, io.findPin(io.fd(), ""));
}

TEST(cIOPins, ReadPinAsksTheCountEachTimeAndReturnsTheByteCountForAnAbsentPin) {
  cIOTestBoard board;
  cIO io(&board.props);
  int pair = board.sim.pinId("BT_PAIR");
  ASSERT_EQ(pair, io.pairPin());
  int before = board.sim.countRequests();
  EXPECT_EQ(1, io.readPin(pair));
  board.sim.press();
  EXPECT_EQ(0, io.readPin(pair));
  EXPECT_EQ(before + 2, board.sim.countRequests());
  EXPECT_EQ(16, io.readPin(999));  // 4 pins, 4 bytes each
  EXPECT_EQ(16, io.readPin(-1));
  board.sim.setReadFails(true);
  EXPECT_EQ(-1, io.readPin(pair));
}

TEST(cIOPins, FailedOrOversizedCountGivesMinusOne) {
  cIOTestBoard board;
  cIO io(&board.props);
  int pair = io.pairPin();
  for (int reply : {-1, 0, 4097, 1 << 30}) {
    SCOPED_TRACE(reply);
    board.sim.setCountReply(reply);
    size_t readsBefore = board.sim.readTimes().size();
    EXPECT_EQ(-1, io.findPin(io.fd(), "BT_PAIR"));
    EXPECT_EQ(-1, io.readPin(pair));
    EXPECT_EQ(readsBefore, board.sim.readTimes().size());  // no read without a sane count
  }
  // The largest count taken: the device then fills the entries it has.
  board.sim.setCountReply(4096);
  EXPECT_EQ(pair, io.findPin(io.fd(), "BT_PAIR"));
  board.sim.setCountReply(std::nullopt);
  board.sim.setTableFails(true);
  EXPECT_EQ(-1, io.findPin(io.fd(), "BT_PAIR"));
}

// Said once, with the path, the reason and what no longer works.
TEST(cIOPins, MissingDeviceLeavesEverythingMinusOne) {
  cLogCapture log;
  cIOTestBoard board(cSimGpio::defaultPins(), "ferryd.io.pvxio = /dev/ferryd-no-such-device\n");
  cIO io(&board.props);
  auto said = log.matching("", "cIO");
  ASSERT_EQ(1u, said.size());
  EXPECT_EQ("ERROR", said[0].level);
  EXPECT_EQ(
      "GPIO device /dev/ferryd-no-such-device could not be opened: No such file or directory "
      "(errno 2): LEDs dark, pairing button not read, module reset line not driven",
      said[0].message);
  EXPECT_EQ(-1, io.fd());
  EXPECT_EQ(-1, io.pairPin());
  EXPECT_EQ(-1, io.resetPin());
  EXPECT_EQ(-1, io.redPin());
  EXPECT_EQ(-1, io.greenPin());
  EXPECT_EQ(-1, io.readPin(12));
  EXPECT_EQ(-1, io.writePin(12, 1));
  EXPECT_EQ(0, board.sim.countRequests());

  // The board's own instance keeps working: the setters are harmless and the tick still waits a
  // second each time.
  cIO::create(&board.props);
  ASSERT_NE(nullptr, cIO::instance());
  EXPECT_EQ(-1, cIO::instance()->redPin());
  cIO::setLedMode(1);
  cIO::setLedBlink(1);
  cIO::setResetLine(1);
  double last = now();
  for (int i = 0; i < 3; ++i) {
    cIO::tick();
    double t = now();
    EXPECT_GT(t - last, 0.9) << "tick " << i;
    EXPECT_LT(t - last, 1.5) << "tick " << i;
    last = t;
  }
  EXPECT_EQ(0, board.sim.countRequests());
  EXPECT_EQ(2, log.count("", "cIO"));  // one line for each instance, nothing from the ticks
}

}  // namespace
