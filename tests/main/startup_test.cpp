// Start-up of the real ferryd binary on the simulated board, at true speed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "bench/cBench.h"

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
cBenchOptions otherDevice() {
  cBenchOptions o;
  o.gpioPath = "/dev/pvxio-startup";
  return o;
}

// The device named in the first file is the one the daemon drives; the second is never read.
TEST(Startup, OfTwoArgumentsTheFirstIsRead) {
  cBench b(otherDevice());
  std::string second = b.writeFile("second.conf", "ferryd.io.pvxio = /dev/ferryd-not-this-one\n");
  ASSERT_TRUE(b.start({b.configPath(), second}));
  EXPECT_TRUE(b.gpio().waitWrites(2, 10000)) << b.daemonOutput();
  EXPECT_TRUE(b.waitForLog("Configuration read from " + b.configPath(), 1, 5000))
      << b.daemonOutput();
  b.log().sync();
  EXPECT_EQ(0, b.logCount(second));
  EXPECT_EQ(std::string::npos, b.daemonOutput().find(second)) << b.daemonOutput();
}

TEST(Startup, WithoutArgumentsTheDefaultFileIsTried) {
  // The default device path is the simulated one, so the defaults reach the board; without a
  // readable configuration the daemon logs to stderr.
  cBench b;
  ASSERT_EQ("/dev/pvxio0", b.gpio().devPath());
  ASSERT_TRUE(b.start({}));
  EXPECT_TRUE(b.waitForOutput(kDefaultConfig, 10000)) << b.daemonOutput();
  EXPECT_TRUE(b.gpio().waitWrites(2, 10000));
}

TEST(Startup, RedLitAtStartThenOneTickASecond) {
  cBench b;
  cSimGpio& sim = b.gpio();
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(sim.waitWrites(2, 10000)) << b.daemonOutput();
  auto writes = sim.writes();
  EXPECT_EQ(leds(sim, 0, 0), records(writes[0]));
  EXPECT_EQ(leds(sim, 1, 0), records(writes[1]));

  // Every tick reads the button once; nothing else reads the device.
  for (int waited = 0; sim.readTimes().size() < 4 && waited < 15000; waited += 100) {
    timespec step = {0, 100 * 1000 * 1000};
    nanosleep(&step, nullptr);
  }
  std::vector<double> ticks = sim.readTimes();
  ASSERT_GE(ticks.size(), 4u) << b.daemonOutput();
  for (size_t i = 1; i < 4; ++i) {
    double gap = ticks[i] - ticks[i - 1];
    EXPECT_GT(gap, 0.9) << "tick " << i;
    EXPECT_LT(gap, 1.5) << "tick " << i;
  }
  EXPECT_TRUE(b.running());
}

// The shipped configuration logs through log4cpp's console appender to stdout. Under a service
// manager stdout is a pipe: every line must arrive while the daemon runs, not sit in a buffer
// that is lost when it is killed.
TEST(Startup, ShippedConfigurationLogsReachAPipeAtOnce) {
  cBenchOptions options;
  options.outputThroughPipe = true;
  cBench b(options);
  std::ifstream shipped(FERRYD_SHIPPED_CONFIG);
  ASSERT_TRUE(shipped) << FERRYD_SHIPPED_CONFIG;
  std::stringstream text;
  text << shipped.rdbuf();
  ASSERT_NE(std::string::npos, text.str().find("ConsoleAppender"));
  // The simulated board's device, serial line and broker; later keys win.
  text << "ferryd.io.pvxio = " << b.gpio().devPath() << "\n"
       << "ferryd.io.tty = " << b.module().ttyPath() << "\n"
       << "zam.broker.host = 127.0.0.1\nzam.broker.port = " << b.broker().port() << "\n";
  std::string config = b.writeFile("shipped.conf", text.str());
  ASSERT_TRUE(b.start({config}));
  EXPECT_TRUE(b.waitForOutput("INFO  cProperties: Configuration read from " + config, 10000))
      << "output so far: " << b.daemonOutput();
  EXPECT_TRUE(b.running());
}

// A FIFO as the trace: without a reader it is said and the daemon starts untraced at once; with a
// reader that takes the header and leaves, the next serial bytes end the tracing, not the daemon
// (SIGPIPE).
TEST(Startup, ATraceFifoNeitherHoldsTheStartNorEndsTheDaemon) {
  char pattern[] = "/tmp/ferryd-fifo-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  struct cFifo {
    std::string path;
    ~cFifo() {
      unlink(path.c_str());
      rmdir(path.substr(0, path.rfind('/')).c_str());
    }
  } fifo{std::string(pattern) + "/serial.trace"};
  ASSERT_EQ(0, mkfifo(fifo.path.c_str(), 0600));
  cBenchOptions o;
  o.speed = 5;  // the first serial bytes come after the link manager's first 10-second wait
  o.keys = {{"ferryd.io.trace", fifo.path}};
  {
    cBench b(o);
    ASSERT_TRUE(b.start());
    EXPECT_TRUE(b.waitForLog("ferryd.io.trace = " + fifo.path +
                                 " cannot be written (a FIFO that nobody reads): the serial line "
                                 "is not traced",
                             1, 10000))
        << b.daemonOutput();
    EXPECT_TRUE(b.gpio().waitWrites(2, 10000));
  }
  int reader = open(fifo.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  cBench b(o);
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(b.waitForLog("Serial line traced in " + fifo.path, 1, 10000)) << b.daemonOutput();
  pollfd pfd = {reader, POLLIN, 0};
  char header[16];
  EXPECT_EQ(1, poll(&pfd, 1, 10000));
  EXPECT_EQ(16, read(reader, header, sizeof header));
  close(reader);
  EXPECT_TRUE(b.waitForLog("Serial trace " + fifo.path + ": write failed (Broken pipe", 1, 15000))
      << b.daemonOutput();
  EXPECT_TRUE(b.gpio().waitWrites(b.gpio().writes().size() + 1, 3000));  // still ticking
  EXPECT_TRUE(b.running());
}

}  // namespace
