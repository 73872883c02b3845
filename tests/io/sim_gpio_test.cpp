// The simulated GPIO device the board I/O tests and the bench run on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "bench/cSimGpio.h"

namespace {

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool ready(int fd, int timeoutMs) {
  pollfd p = {fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN) != 0;
}

TEST(SimGpio, InputReadyFromAnInputChangeUntilTheNextRead) {
  cSimGpio sim;
  int fd = open(sim.devPath().c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(ready(fd, 0));
  sim.release();  // already released: no change, no event
  EXPECT_FALSE(ready(fd, 50));
  sim.press();
  EXPECT_TRUE(ready(fd, 1000));
  EXPECT_TRUE(ready(fd, 0));  // stays ready until read
  unsigned char records[16];
  ASSERT_EQ(16, read(fd, records, sizeof records));
  EXPECT_EQ(12, records[0] | records[1] << 8);  // BT_PAIR first, pressed
  EXPECT_EQ(0, records[2] | records[3] << 8);
  EXPECT_FALSE(ready(fd, 50));
  sim.raiseInputReady();
  EXPECT_TRUE(ready(fd, 1000));
  close(fd);
}

TEST(SimGpio, KeepsEveryWriteCallWithItsTime) {
  cSimGpio sim;
  int fd = open(sim.devPath().c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  double before = now();
  const unsigned char leds[] = {20, 0, 1, 0, 21, 0, 0, 0};
  EXPECT_EQ(8, write(fd, leds, sizeof leds));
  const unsigned char unknown[] = {0xFF, 0xFF, 1, 0};
  EXPECT_EQ(4, write(fd, unknown, sizeof unknown));
  const unsigned char partial[] = {21, 0, 1, 0, 9, 9};
  EXPECT_EQ(-1, write(fd, partial, sizeof partial));
  double after = now();

  auto writes = sim.writes();
  ASSERT_EQ(3u, writes.size());
  ASSERT_EQ(2u, writes[0].size());
  EXPECT_EQ(20, writes[0][0].pin);
  EXPECT_EQ(1, writes[0][0].value);
  EXPECT_EQ(21, writes[0][1].pin);
  EXPECT_GE(writes[0][0].time, before);
  EXPECT_LE(writes[2][0].time, after);
  EXPECT_EQ(0xFFFF, writes[1][0].pin);
  EXPECT_EQ(1, sim.value(20));
  EXPECT_EQ(0, sim.value(21));  // the refused write changed nothing
  EXPECT_EQ(-1, sim.value(0xFFFF));
  close(fd);
}

TEST(SimGpio, ChildEnvironmentNamesThePreloadAndTheTestbed) {
  cSimGpio sim({{"BT_PAIR", 1, 1}}, "/dev/gpio-x");
  EXPECT_EQ("/dev/gpio-x", sim.devPath());
  bool preload = false;
  std::string dir;
  for (const std::string& e : sim.childEnv()) {
    preload = preload || e == std::string("LD_PRELOAD=") + UMOCKDEV_PRELOAD;
    if (e.rfind("UMOCKDEV_DIR=", 0) == 0) dir = e.substr(13);
  }
  EXPECT_TRUE(preload);
  struct stat st;
  EXPECT_EQ(0, stat((dir + "/dev/gpio-x").c_str(), &st)) << dir;
  EXPECT_EQ(0xFFFF, sim.pinId("NOPE"));
  EXPECT_THROW(cSimGpio({}, "/tmp/gpio"), std::runtime_error);
}

}  // namespace
