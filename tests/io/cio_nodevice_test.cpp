// Board I/O without a GPIO device: everything keeps working, nothing is written or logged.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <fstream>

#include "io/cIO.h"
#include "tests/common/cLogCapture.h"

namespace {

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

TEST(cIONoDevice, PinsMinusOneAndTicksOnceASecond) {
  char name[] = "/tmp/ferryd-io-XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(name) << "ferryd.io.pvxio = /tmp/ferryd-no-such-gpio-device\n";
  cProperties props;
  props.load(name);
  unlink(name);

  cLogCapture log;
  cIO::create(&props);
  cIO* io = cIO::instance();
  ASSERT_NE(nullptr, io);
  EXPECT_EQ(-1, io->fd());
  EXPECT_EQ(-1, io->pairPin());
  EXPECT_EQ(-1, io->resetPin());
  EXPECT_EQ(-1, io->redPin());
  EXPECT_EQ(-1, io->greenPin());
  EXPECT_EQ(-1, io->readPin(io->pairPin()));
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
  EXPECT_EQ(0, log.count("", "cIO"));
}

}  // namespace
