// Start-up of the real ferryd binary on the simulated GPIO device, at true speed.
#include <gtest/gtest.h>

#include "bench/cSimGpio.h"
#include "bench/cSimGpioDaemon.h"

namespace {

const char* const kDefaultConfig = "/etc/qmx/ferryd.conf";

using Records = std::vector<std::pair<int, int>>;

Records records(const std::vector<cSimGpio::cWrite>& call) {
  Records out;
  for (const cSimGpio::cWrite& w : call) out.push_back({w.pin, w.value});
  return out;
}

Records leds(const cSimGpio& sim, int red, int green) {
  return {{sim.pinId("LED_BT_RED"), red}, {sim.pinId("LED_BT_GREEN"), green}};
}

// Not the default device path: only a configuration that was read leads the daemon to it.
const char* const kDevice = "/dev/pvxio-startup";

TEST(Startup, OneArgumentNamesTheConfiguration) {
  cSimGpio sim(cSimGpio::defaultPins(), kDevice);
  cSimGpioDaemon daemon(sim);
  std::string config = daemon.writeFile("one.conf", daemon.baseConfig());
  ASSERT_TRUE(daemon.start({config}));
  // The device named in the file is the one the daemon drives.
  EXPECT_TRUE(sim.waitWrites(2, 10000));
  EXPECT_TRUE(daemon.waitOutput(config, 5000)) << daemon.output();
}

TEST(Startup, OfTwoArgumentsTheFirstIsRead) {
  cSimGpio sim(cSimGpio::defaultPins(), kDevice);
  cSimGpioDaemon daemon(sim);
  std::string first = daemon.writeFile("first.conf", daemon.baseConfig());
  std::string second =
      daemon.writeFile("second.conf", "ferryd.io.pvxio = /dev/ferryd-not-this-one\n");
  ASSERT_TRUE(daemon.start({first, second}));
  EXPECT_TRUE(sim.waitWrites(2, 10000));
  EXPECT_TRUE(daemon.waitOutput(first, 5000)) << daemon.output();
  EXPECT_EQ(std::string::npos, daemon.output().find(second)) << daemon.output();
}

TEST(Startup, WithoutArgumentsTheDefaultFileIsTried) {
  // The default device path is the simulated one, so the defaults reach the board.
  cSimGpio sim(cSimGpio::defaultPins(), "/dev/pvxio0");
  cSimGpioDaemon daemon(sim);
  ASSERT_TRUE(daemon.start({}));
  EXPECT_TRUE(daemon.waitOutput(kDefaultConfig, 10000)) << daemon.output();
  EXPECT_TRUE(sim.waitWrites(2, 10000));
}

TEST(Startup, RedLitAtStartThenOneTickASecond) {
  cSimGpio sim;
  cSimGpioDaemon daemon(sim);
  ASSERT_TRUE(daemon.start({daemon.writeFile("ferryd.conf", daemon.baseConfig())}));
  ASSERT_TRUE(sim.waitWrites(2, 10000)) << daemon.output();
  auto writes = sim.writes();
  EXPECT_EQ(leds(sim, 0, 0), records(writes[0]));
  EXPECT_EQ(leds(sim, 1, 0), records(writes[1]));

  // Every tick reads the button once; nothing else reads the device.
  for (int waited = 0; sim.readTimes().size() < 4 && waited < 15000; waited += 100) {
    timespec step = {0, 100 * 1000 * 1000};
    nanosleep(&step, nullptr);
  }
  std::vector<double> ticks = sim.readTimes();
  ASSERT_GE(ticks.size(), 4u) << daemon.output();
  for (size_t i = 1; i < 4; ++i) {
    double gap = ticks[i] - ticks[i - 1];
    EXPECT_GT(gap, 0.9) << "tick " << i;
    EXPECT_LT(gap, 1.5) << "tick " << i;
  }
  EXPECT_TRUE(daemon.running());
}

}  // namespace
