// The real daemon under a service manager of the test's own: readiness, status lines and
// watchdog pings on a notification socket, a module that stops reading (the pings end, the
// restart relays again), and SIGUSR1.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>

#include "bench/cBenchClock.h"
#include "bench/cBenchWire.h"
#include "tests/link/benchTest.h"

namespace {

constexpr int kMargin = cBenchSteps::kMarginMs;
constexpr double kSpeed = 5;
constexpr double kWatchdogSeconds = 30;  // the shipped unit's WatchdogSec
constexpr double kPingSeconds = kWatchdogSeconds / 4;
constexpr double kStallSeconds = kWatchdogSeconds * 2 / 3;

// A service manager's notification socket: an abstract-namespace datagram socket whose messages
// a thread records with their arrival time.
class cNotifySocket {
 public:
  struct cNote {
    double time;
    std::string text;
  };

  // Without bindNow the name is not there until bind(): a sender's datagrams fail meanwhile.
  explicit cNotifySocket(bool bindNow = true) {
    static int count = 0;
    mName = "ferryd-notify-" + std::to_string(getpid()) + "-" + std::to_string(count++);
    mFd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    timeval tv = {0, 50 * 1000};
    setsockopt(mFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (bindNow) bind();
    mThread = std::thread([this] { receive(); });
  }
  void bind() {
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path + 1, mName.data(), mName.size());  // sun_path[0] == 0: abstract
    socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + mName.size());
    if (::bind(mFd, reinterpret_cast<sockaddr*>(&addr), len) != 0) ADD_FAILURE() << "bind";
  }
  ~cNotifySocket() {
    mStop = true;
    mThread.join();
    close(mFd);
  }

  std::string env() const { return "NOTIFY_SOCKET=@" + mName; }
  std::vector<cNote> notes() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mNotes;
  }
  // Notes from index from on that hold text.
  std::vector<cNote> matching(const std::string& text, size_t from = 0) const {
    std::vector<cNote> out;
    std::vector<cNote> all = notes();
    for (size_t i = from; i < all.size(); ++i)
      if (all[i].text.find(text) != std::string::npos) out.push_back(all[i]);
    return out;
  }
  bool waitFor(const std::string& text, int timeoutMs, size_t n = 1, size_t from = 0) const {
    for (double end = benchNow() + timeoutMs / 1000.0; benchNow() < end; usleep(10 * 1000))
      if (matching(text, from).size() >= n) return true;
    return matching(text, from).size() >= n;
  }

 private:
  void receive() {
    char buf[4096];
    while (!mStop) {
      ssize_t n = recv(mFd, buf, sizeof buf, 0);
      if (n <= 0) continue;
      std::lock_guard<std::mutex> lock(mMutex);
      mNotes.push_back({benchNow(), std::string(buf, static_cast<size_t>(n))});
    }
  }

  std::string mName;
  int mFd;
  std::atomic<bool> mStop{false};
  std::thread mThread;
  mutable std::mutex mMutex;
  std::vector<cNote> mNotes;
};

class ServiceTest : public cBenchTest {
 protected:
  // The daemon started as the service manager starts it, with the shipped unit's watchdog time.
  cBench& startManaged(const cNotifySocket& manager) {
    cBenchOptions o;
    o.speed = kSpeed;
    o.env = {manager.env(), "WATCHDOG_USEC=" + std::to_string(int64_t(kWatchdogSeconds * 1e6))};
    return start(o);
  }
  // Real times of the reset line's rising and falling writes.
  std::vector<double> resetWrites(int value) {
    std::vector<double> out;
    int pin = bench().gpio().pinId("BT_RESET");
    for (const auto& call : bench().gpio().writes())
      for (const cSimGpio::cWrite& w : call)
        if (w.pin == pin && w.value == value) out.push_back(w.time);
    return out;
  }
  // Peer to broker first: after a restart the broker learns the daemon's new port from it.
  void expectRelayBothWays(int id) {
    cBench& b = bench();
    size_t toModule = b.module().messages().size();
    size_t toBroker = b.broker().messages().size();
    b.module().sendMessage(id, cBenchWire::payload(200, id));
    EXPECT_TRUE(b.broker().waitForMessages(toBroker + 1, b.realMs(2, kMargin)));
    ASSERT_GT(b.broker().sendMessage(id + 1, cBenchWire::payload(300, id + 1)), 0);
    EXPECT_TRUE(b.module().waitForMessages(toModule + 1, b.realMs(2, kMargin)));
  }
};

// Ready once the components exist, status lines that follow the link and the counters, pings
// every quarter of the watchdog time. Then the module stops reading while messages go to it:
// the serial writes block, the pings end and the watchdog's action is asked for; the restart a
// service manager then makes pulses the reset line, and with the module reading again the relay
// works both ways.
TEST_F(ServiceTest, ReadyStatusPingsAndAStuckSerialWriteEndsThem) {
  cNotifySocket manager;
  cBench& b = startManaged(manager);

  ASSERT_TRUE(manager.waitFor("READY=1", b.realMs(2, kMargin)));
  cNotifySocket::cNote ready = manager.notes()[0];
  EXPECT_EQ(0u, ready.text.find("READY=1\nSTATUS=Link set-up; south messages=0 dropped=0; "
                                "north messages=0 dropped=0; at-timeouts=0"))
      << ready.text;
  // The link manager, made last, has pulsed the module's reset line for a second (daemon time)
  // and opened the serial line.
  ASSERT_EQ(1u, resetWrites(1).size());
  EXPECT_GT(ready.time, resetWrites(1)[0] + 0.8 / kSpeed);

  ASSERT_TRUE(cBenchSteps::waitStartup(b));
  EXPECT_TRUE(manager.waitFor("STATUS=Link stand-by;", b.realMs(2, kMargin)));
  ASSERT_TRUE(cBenchSteps::waitNorth(b));
  ASSERT_TRUE(cBenchSteps::connectPeer(b));
  EXPECT_TRUE(manager.waitFor("STATUS=Link connected;", b.realMs(2, kMargin)));
  expectRelayBothWays(10);
  ASSERT_TRUE(manager.waitFor(
      "STATUS=Link connected; south messages=1 dropped=0; north messages=1 dropped=0",
      b.realMs(11, kMargin)));

  // Pings while healthy: at least three, each a quarter of the watchdog time after the last.
  ASSERT_TRUE(manager.waitFor("WATCHDOG=1", b.realMs(3 * kPingSeconds + 2, kMargin), 3));
  std::vector<cNotifySocket::cNote> pings = manager.matching("WATCHDOG=1");
  double sum = 0;
  for (size_t i = 1; i < pings.size(); ++i) {
    double gap = (pings[i].time - pings[i - 1].time) * kSpeed;
    sum += gap;
    EXPECT_GT(gap, kPingSeconds - 1) << "ping " << i;
    EXPECT_LT(gap, kWatchdogSeconds / 2) << "ping " << i;
  }
  printf("SERVICE ping interval %.2f daemon s (mean of %zu)\n", sum / (pings.size() - 1),
         pings.size() - 1);

  // The module stops reading; the broker's messages fill the serial line's buffers.
  b.module().pauseReading(true);
  double paused = benchNow();
  for (int i = 0; i < 24; ++i)
    ASSERT_GT(b.broker().sendMessage(20 + i, cBenchWire::payload(8000, i)), 0);
  ASSERT_TRUE(manager.waitFor("WATCHDOG=trigger", b.realMs(kStallSeconds + 2, kMargin)));
  cNotifySocket::cNote trigger = manager.matching("WATCHDOG=trigger")[0];
  printf("SERVICE stuck write seen after %.1f daemon s\n", (trigger.time - paused) * kSpeed);
  EXPECT_NE(std::string::npos,
            trigger.text.find("STATUS=Stuck: the serial write of a message to the module has "
                              "made no progress for "))
      << trigger.text;
  EXPECT_TRUE(b.waitForLog("Watchdog: Stuck: ", 1, kMargin));
  size_t after = manager.notes().size();
  b.sleepDaemon(kPingSeconds + 2);
  EXPECT_EQ(0u, manager.matching("WATCHDOG=1", after).size());

  // The restart: a new process, the module reset (a fresh serial line) and reading again.
  b.stop();
  b.module().hangUp();
  ASSERT_TRUE(b.module().reopen());
  b.module().pauseReading(false);
  size_t notesBefore = manager.notes().size();
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(manager.waitFor("READY=1", b.realMs(2, kMargin), 1, notesBefore));
  EXPECT_EQ(2u, resetWrites(1).size());
  ASSERT_TRUE(cBenchSteps::waitStartup(b));
  ASSERT_TRUE(cBenchSteps::waitNorth(b));
  ASSERT_TRUE(cBenchSteps::connectPeer(b));
  expectRelayBothWays(60);
}

// The link state thread stuck in an AT command's write: the serial line's output is held (as a
// module that stops taking data holds it), so the command line for discovery never goes out.
TEST_F(ServiceTest, ALinkStateThreadStuckInAnATCommandEndsThePings) {
  cNotifySocket manager;
  cBench& b = startManaged(manager);
  ASSERT_TRUE(cBenchSteps::waitStartup(b));
  int tty = open(b.module().ttyPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(tty, 0);
  ASSERT_EQ(0, tcflow(tty, TCOOFF));
  double held = benchNow();
  ASSERT_TRUE(cBenchSteps::pressForPairing(b));
  EXPECT_TRUE(manager.waitFor("WATCHDOG=trigger", b.realMs(kStallSeconds + 11, kMargin)));
  std::vector<cNotifySocket::cNote> trigger = manager.matching("WATCHDOG=trigger");
  ASSERT_EQ(1u, trigger.size());
  EXPECT_NE(std::string::npos,
            trigger[0].text.find("STATUS=Stuck: the link state thread has made no progress"))
      << trigger[0].text;
  // The request is taken at the link state thread's next wake-up, at most one wait later.
  EXPECT_LT((trigger[0].time - held) * kSpeed, kStallSeconds + 11);
  EXPECT_EQ(0, commandCount("EnableBond"));
  tcflow(tty, TCOON);
  close(tty);
}

// The service manager's socket appears 2 s after the start: READY=1, which could not be sent,
// goes out first at the next tick after it appears, with the status as it is then, and the log
// says so only once it is true.
TEST_F(ServiceTest, AFailedNotificationIsSentAgainUntilItGoesThrough) {
  cNotifySocket manager(false);
  cBench& b = startManaged(manager);
  ASSERT_TRUE(b.waitForLog("Could not notify the service manager", 1, b.realMs(2, kMargin)));
  b.sleepDaemon(2);
  EXPECT_EQ(0, b.logCount("notified again"));
  manager.bind();
  ASSERT_TRUE(manager.waitFor("READY=1", b.realMs(1.5, kMargin)));
  std::vector<cNotifySocket::cNote> notes = manager.notes();
  EXPECT_EQ(0u, notes[0].text.find("READY=1\nSTATUS=Link ")) << notes[0].text;
  EXPECT_TRUE(b.waitForLog("The service manager is notified again: READY=1, STATUS", 1, kMargin));
  EXPECT_EQ(1, b.logCount("Could not notify the service manager (READY=1, STATUS) err("));
}

// SIGUSR1 logs the counters line at once, not at the next tick, and leaves the tick's rhythm
// alone. Without NOTIFY_SOCKET the watchdog variable is ignored.
TEST_F(ServiceTest, Sigusr1LogsTheCountersAtOnce) {
  cBenchOptions o;
  o.env = {"WATCHDOG_USEC=30000000"};
  cBench& b = start(o);
  for (int waited = 0; b.gpio().readTimes().size() < 2 && waited < 10000; waited += 10)
    usleep(10 * 1000);
  ASSERT_GE(b.gpio().readTimes().size(), 2u) << b.daemonOutput();
  for (int i = 1; i <= 3; ++i) {
    usleep(330 * 1000);  // another point of the tick each time
    double sent = benchNow();
    ASSERT_EQ(0, kill(b.pid(), SIGUSR1));
    ASSERT_TRUE(b.waitForLog("Counters: south messages=0", static_cast<size_t>(i), 2000));
    double delay = b.log().matching("Counters: ")[static_cast<size_t>(i - 1)].time - sent;
    EXPECT_LT(delay, 0.3) << "signal " << i;
  }
  std::vector<double> ticks = b.gpio().readTimes();
  for (size_t i = 1; i < ticks.size(); ++i) EXPECT_GT(ticks[i] - ticks[i - 1], 0.9) << "tick " << i;
  EXPECT_EQ(0, b.logCount("Watchdog"));
}

}  // namespace
