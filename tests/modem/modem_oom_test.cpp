// Running out of memory on the reader and north paths drops the unit of work in hand and counts
// it; nothing leaks (ASan builds check) and the next unit is handled normally. Each case makes
// the 1st, 2nd, ... allocation of the unit fail until the unit needs no more. Logging is off:
// log4cpp ends the process when an allocation fails inside it, whatever its caller does.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/cSimModule.h"
#include "link/cBTMsg.h"
#include "modem/cBTModem.h"
#include "north/cLocalMsg.h"
#include "support/cLogLimit.h"
#include "support/cProperties.h"
#include "support/cReassembler.h"
#include "support/cYlog.h"
#include "tests/common/cTestNew.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes unit(int id, int index, bool last, size_t n) {
  Bytes u(5 + n, static_cast<unsigned char>(index + 1));
  u[0] = static_cast<unsigned char>(id | (last ? 0x80 : 0));
  u[1] = static_cast<unsigned char>(index);
  u[2] = 0;
  u[3] = static_cast<unsigned char>(n & 0xFF);
  u[4] = static_cast<unsigned char>(n >> 8);
  return u;
}

// Runs work(n), which arms cTestNew::failNth(n) before the step under test, for n = 1, 2, ...
// until work completes without a failure; after each run, check() must find everything sound.
void everyAllocationFails(const std::function<void(long)>& work,
                          const std::function<void(long)>& check) {
  for (long n = 1; n < 10000; ++n) {
    work(n);
    bool failed = !cTestNew::armed();
    cTestNew::failNth(0);
    check(n);
    if (!failed) return;
  }
  FAIL() << "the work never completed";
}

uint64_t outOfMemory(cStats::Dir dir) {
  return cStats::get(dir, cStats::kOutOfMemory);
}

class OutOfMemory : public ::testing::Test {
 protected:
  OutOfMemory() { log4cpp::Category::getRoot().setPriority(log4cpp::Priority::FATAL); }
};

TEST_F(OutOfMemory, ReassemblyDropsTheUnitAndGoesOn) {
  cYlog owner("cBTMsg");
  cReassembler r(owner, "module to broker", cStats::kNorth);
  Bytes first = unit(3, 0, false, 300), last = unit(3, 1, true, 200);
  // Each drop reports the unit it dropped, by its id too: the header is read before anything is
  // allocated.
  struct cDrop {
    cStats::Counter reason;
    int id, length;
  };
  std::vector<cDrop> drops;
  drops.reserve(100);  // no allocation in the report while allocations fail
  r.reportDropsTo(
      [](void* to, cStats::Counter reason, int id, int length) {
        auto* d = static_cast<std::vector<cDrop>*>(to);
        if (d->size() < d->capacity()) d->push_back({reason, id, length});
      },
      &drops);
  everyAllocationFails(
      [&](long n) {
        cTestNew::failNth(n);
        delete r.onUnit(first.data(), static_cast<int>(first.size()));
        delete r.onUnit(last.data(), static_cast<int>(last.size()));
      },
      [&](long n) {
        std::unique_ptr<YMsg> a(r.onUnit(first.data(), static_cast<int>(first.size())));
        std::unique_ptr<YMsg> b(r.onUnit(last.data(), static_cast<int>(last.size())));
        ASSERT_TRUE(b) << n;
        EXPECT_EQ(500u, b->payload().size()) << n;
      });
  EXPECT_GT(outOfMemory(cStats::kNorth), 0u);
  int oom = 0;
  for (const cDrop& d : drops) {  // the others are lost starts: a first unit was dropped
    EXPECT_EQ(3, d.id);
    EXPECT_TRUE(d.length == int(first.size()) || d.length == int(last.size())) << d.length;
    oom += d.reason == cStats::kOutOfMemory;
  }
  EXPECT_GT(oom, 0);
}

TEST_F(OutOfMemory, SerialReadIsDroppedAndTheNextLineParsed) {
  cBTModem modem{cBTModem::cNoDevice{}};
  const std::string enter = "AT-AB -BypassMode-\r\n", leave = "AT-AB -CommandMode-\r\n";
  auto feed = [&](const std::string& bytes) {
    modem.onSerialBytes(reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int>(bytes.size()));
  };
  everyAllocationFails(
      [&](long n) {
        cTestNew::failNth(n);
        feed(enter);
      },
      [&](long n) {
        if (modem.inBypass()) feed(leave);
        feed(enter);
        EXPECT_TRUE(modem.inBypass()) << n;
        feed(leave);
        EXPECT_FALSE(modem.inBypass()) << n;
      });
  EXPECT_GT(outOfMemory(cStats::kNorth), 0u);
}

double monotonicSeconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// The serial line is written one turn at a time. A failed write whose warning says how many were
// held back, built while memory runs out, still ends its turn: the next writer gets one.
TEST_F(OutOfMemory, FailedWriteEndsItsTurn) {
  cSimModule sim;
  cBTModem* modem = new cBTModem(sim.ttyPath().c_str());
  sim.hangUp();  // every write fails from now on
  for (int i = 0; i <= cLogLimit::kDefaultBurst; ++i) EXPECT_EQ(-1, modem->write("AT\r\n", 4));
  double next = monotonicSeconds() + cLogLimit::kDefaultInterval + 1;
  while (monotonicSeconds() < next) usleep(100 * 1000);
  cTestNew::failNth(1);
  EXPECT_NO_THROW(modem->write("AT\r\n", 4));  // this one says a write was held back
  cTestNew::failNth(0);
  static std::atomic<bool> written{false};
  std::thread([modem] {
    modem->write("AT\r\n", 4);
    written = true;
  }).detach();
  for (int waited = 0; waited < 200 && !written; ++waited) usleep(10 * 1000);
  EXPECT_TRUE(written) << "the next writer never got its turn";
}

std::string configFile() {
  char path[] = "/tmp/ferryd-oom-XXXXXX";
  int fd = mkstemp(path);
  std::string text =
      "zam.broker.host = 127.0.0.1\nzam.broker.port = 9\nferryd.io.tty = /nonexistent/tty\n";
  EXPECT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
  close(fd);
  return path;
}

// A whole message relayed in either direction while memory runs out is dropped, not leaked.
// South, cutting and framing a message may run out of memory: the message is dropped whole.
// North, its datagrams are sent straight from the message, so it goes out even when every
// allocation fails.
TEST_F(OutOfMemory, RelayedMessagesAreDroppedWholeOrNeedNoMemory) {
  std::string path = configFile();
  static cProperties props;
  props.load(path.c_str());
  unlink(path.c_str());
  cLocalMsg::create(&props);
  cBTMsg::create(&props);
  std::vector<uint8_t> payload(3000, 0x42);
  everyAllocationFails(
      [&](long n) {
        YMsg* msg = YMsg::create(1, payload.data(), payload.size());
        cTestNew::failNth(n);
        cBTMsg::sendSouth(msg);
      },
      [](long) {});
  EXPECT_GT(outOfMemory(cStats::kSouth), 0u);

  YMsg* msg = YMsg::create(2, payload.data(), payload.size());
  cTestNew::failNth(1);
  cLocalMsg::sendNorth(msg);
  EXPECT_TRUE(cTestNew::armed()) << "sending north allocated";
  cTestNew::failNth(0);
  EXPECT_EQ(0u, outOfMemory(cStats::kNorth));
  // Sent, or refused while the north link is not yet connected: tried either way.
  EXPECT_EQ(1u, cStats::get(cStats::kNorth, cStats::kMessages) +
                    (cStats::get(cStats::kNorth, cStats::kFailedWrites) > 0 ? 1 : 0));
}

}  // namespace
