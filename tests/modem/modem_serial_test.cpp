#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "tests/modem/cModemRig.h"

namespace {

double cpuSeconds() {
  rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
         (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

TEST(ModemSerial, AppliesRaw115200WithFiveSecondReads) {
  cModemRig rig;
  EXPECT_EQ(1, rig.log.count(rig.sim.ttyPath() + " Opened OK"));
  termios t = rig.sim.appliedTermios();
  EXPECT_EQ(B115200, cfgetispeed(&t));
  EXPECT_EQ(B115200, cfgetospeed(&t));
  EXPECT_EQ(static_cast<tcflag_t>(CS8), t.c_cflag & CSIZE);
  EXPECT_TRUE((t.c_cflag & CREAD) && (t.c_cflag & CLOCAL));
  EXPECT_EQ(0u, t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_EQ(0u, t.c_iflag);
  EXPECT_EQ(0u, t.c_oflag);
  EXPECT_EQ(0u, t.c_lflag);
  EXPECT_EQ(50, t.c_cc[VTIME]);
  for (size_t i = 0; i < NCCS; ++i) {
    if (i != VTIME) {
      EXPECT_EQ(0, t.c_cc[i]) << "control character " << i;
    }
  }
}

// Said with the system's reason. Also covers the reader of a device that failed to open: about
// one failed read a second.
TEST(ModemSerial, OpenFailureLoggedOnceAndReaderDoesNotSpin) {
  cLogCapture log;
  cBTModem* modem = new cBTModem("/nonexistent/ttyBT");
  usleep(5 * 1000 * 1000);
  auto failures = log.matching("Could not be Opened");
  ASSERT_EQ(1u, failures.size());
  EXPECT_EQ("ERROR", failures[0].level);
  EXPECT_EQ("/nonexistent/ttyBT Could not be Opened err(-1): No such file or directory (errno 2)",
            failures[0].message);
  int reads = log.count("Received -1 bytes");
  EXPECT_GE(reads, 3);
  EXPECT_LE(reads, 7);
  EXPECT_EQ(-1, modem->write("AT+AB EnableBond\r\n", 18));
}

// A module whose device appears only after start (a late serial adapter) is opened then.
TEST(ModemSerial, DeviceMissingAtStartIsOpenedWhenItAppears) {
  cLogCapture log;
  cSimModule sim;
  std::string late = sim.ttyPath() + ".late";
  cBTModem* modem = new cBTModem(late.c_str());
  ASSERT_TRUE(log.waitFor("Could not be Opened"));
  ASSERT_EQ(0, symlink(sim.ttyPath().c_str(), late.c_str()));
  EXPECT_TRUE(log.waitFor(late + " reopened", 1, 20000));
  EXPECT_EQ(18, modem->write("AT+AB EnableBond\r\n", 18));
  EXPECT_TRUE(sim.waitForCommand("AT+AB EnableBond", 2000));
  unlink(late.c_str());
}

TEST(ModemSerial, HungUpDeviceIsNotReadInABusyLoop) {
  cLogCapture log;
  cBTModem* modem = nullptr;
  {
    cSimModule sim;
    modem = new cBTModem(sim.ttyPath().c_str());
  }
  ASSERT_TRUE(log.waitFor("reads end at once"));
  double cpu = cpuSeconds();
  usleep(5 * 1000 * 1000);  // half a second of real time under the tests' faked clock
  EXPECT_LT(cpuSeconds() - cpu, 0.1);
  EXPECT_EQ(1, log.count("reads end at once"));
  EXPECT_FALSE(modem->inBypass());
}

}  // namespace
