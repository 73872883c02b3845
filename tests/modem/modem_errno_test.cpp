// The reader judges a failed read by the errno of the read itself, not by whatever the log line
// after it left behind: an interrupted read (EINTR) is retried at once, without the one-second
// pause of a failing device, even when logging changes errno.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <log4cpp/AppenderSkeleton.hh>
#include <log4cpp/Category.hh>

#include "bench/cBenchClock.h"
#include "bench/cSimModule.h"
#include "modem/cBTModem.h"
#include "tests/common/cLogCapture.h"

namespace {

// Leaves errno at EIO after every log line, as a failing log device would.
class cErrnoClobber : public log4cpp::AppenderSkeleton {
 public:
  cErrnoClobber() : log4cpp::AppenderSkeleton("clobber") {}
  void close() override {}
  bool requiresLayout() const override { return false; }
  void setLayout(log4cpp::Layout* layout) override { delete layout; }

 protected:
  void _append(const log4cpp::LoggingEvent&) override { errno = EIO; }
};

void onSignal(int) {}

sigset_t usr1() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  return set;
}

TEST(ModemErrno, InterruptedReadIsRetriedAtOnce) {
  cLogCapture log;
  log4cpp::Category::getRoot().addAppender(new cErrnoClobber);
  struct sigaction sa {};
  sa.sa_handler = onSignal;  // no SA_RESTART: the blocked read returns EINTR
  sigaction(SIGUSR1, &sa, nullptr);
  // Only the driver's reader thread takes SIGUSR1: it is the one thread started unblocked.
  sigset_t set = usr1();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  cSimModule sim;
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  cBTModem* modem = new cBTModem(sim.ttyPath().c_str());
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  ASSERT_NE(nullptr, modem);

  for (int i = 0; i < 3; ++i) {
    // A signal that comes while the reader is not inside read() interrupts nothing: repeat.
    int before = log.count("Received -1 bytes");
    bool interruptedRead = false;
    for (int k = 0; k < 200 && !interruptedRead; ++k) {
      kill(getpid(), SIGUSR1);
      interruptedRead = log.waitFor("Received -1 bytes", before + 1, 20);
    }
    ASSERT_TRUE(interruptedRead);
    double interrupted = benchNow();
    sim.sendLine("AT-AB BondOk");
    ASSERT_TRUE(log.waitFor("Bond Ok (pairing) URC", i + 1));
    EXPECT_LT(benchNow() - interrupted, 0.5) << "the reader paused after EINTR";
  }
}

}  // namespace
