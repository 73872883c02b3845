// The driver's shared paths under load: the pending command between the reader and the link
// state thread, and writes from the north and link state threads.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/modem/cModemRig.h"

namespace {

// Lines flood in while operation after operation publishes, completes and withdraws its
// command: a line must never reach a command that has been withdrawn and deleted.
TEST(ModemHandoff, WithdrawnCommandIsNeverTouchedAgain) {
  cModemRig rig;
  const int kOperations = 200;
  std::atomic<bool> done{false};
  cOperation op([&] {
    for (int i = 0; i < kOperations; ++i) rig.modem->enableBond();
    done = true;
  });
  while (!done) {
    rig.sim.sendLine("AT-AB BondEnabled");
    usleep(300);
  }
  op.join();
  EXPECT_EQ(kOperations, rig.log.count("EnableBond Successful"));
}

// A frame sink whose context is freed as soon as it has been replaced: the reader must never
// deliver to it afterwards, nor be inside it while it is replaced.
struct cSinkContext {
  static constexpr unsigned kAlive = 0x5AFE5AFE;
  unsigned magic = kAlive;
  std::atomic<int> frames{0};
  static std::atomic<int> sBad;
  static void add(void* self, const unsigned char*, int) {
    auto* c = static_cast<cSinkContext*>(self);
    if (c->magic != kAlive) ++sBad;
    c->frames.fetch_add(1, std::memory_order_relaxed);
    for (volatile int i = 0; i < 200; ++i) {
    }  // stays inside a while, so a replacement that does not wait is caught
    if (c->magic != kAlive) ++sBad;
  }
};
std::atomic<int> cSinkContext::sBad{0};

TEST(ModemHandoff, ReplacedFrameSinkIsNeverCalledAgain) {
  cLogCapture log;
  cBTModem modem{cBTModem::cNoDevice{}};
  const std::string enter = "AT-AB -BypassMode-\r\n";
  modem.onSerialBytes(reinterpret_cast<const unsigned char*>(enter.data()),
                      static_cast<int>(enter.size()));
  ASSERT_TRUE(modem.inBypass());
  std::vector<unsigned char> seg = segmentOf(1, "x");
  unsigned char framedSeg[cBTModem::kFrameBufSize];
  int framedLen = 0;
  cHDLC().frameData(seg.data(), static_cast<int>(seg.size()), framedSeg, &framedLen);
  std::string frames;
  for (int i = 0; i < 50; ++i) frames.append(reinterpret_cast<char*>(framedSeg), framedLen);

  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      modem.onSerialBytes(reinterpret_cast<const unsigned char*>(frames.data()),
                          static_cast<int>(frames.size()));
    }
  });
  int delivered = 0;
  cSinkContext* current = nullptr;
  // Many replacements, and enough of them while frames are being delivered.
  for (int i = 0; i < 20000 || delivered < 20000; ++i) {
    auto* next = new cSinkContext;
    modem.setFrameSink(&cSinkContext::add, next);
    if (current != nullptr) {
      delivered += current->frames;
      current->magic = 0;
      delete current;
    }
    current = next;
  }
  modem.setFrameSink(nullptr, nullptr);
  stop = true;
  reader.join();
  delivered += current->frames;
  delete current;
  EXPECT_EQ(0, cSinkContext::sBad.load());
  EXPECT_GT(delivered, 0);
}

void ignoreSignal(int) {}

// The module stops reading, so writes block with the device buffer full; signals then cut them
// short. Every byte must still arrive, and no command line may land inside a frame.
TEST(ModemHandoff, WritesAreWholeAndNeverInterleave) {
  cModemRig rig;
  struct sigaction sa {};
  sa.sa_handler = ignoreSignal;  // no SA_RESTART: a blocked write returns early
  sigaction(SIGUSR1, &sa, nullptr);
  ASSERT_TRUE(rig.enterBypass());
  rig.sim.pauseReading(true);

  const int kFrames = 100;
  std::vector<std::string> payloads;
  for (int i = 0; i < kFrames; ++i) {
    std::string p(1000, '\0');
    for (size_t j = 0; j < p.size(); ++j) p[j] = static_cast<char>("AT-AB\r\n~}"[(i + j) % 9]);
    payloads.push_back(p);
  }
  std::atomic<bool> finished{false};
  std::thread north([&] {
    for (int i = 0; i < kFrames; ++i) {
      std::vector<unsigned char> seg = segmentOf(i % 128, payloads[i]);
      rig.modem->sendFrame(seg.data(), static_cast<int>(seg.size()));
    }
    finished = true;
  });
  size_t lines = 0;
  std::thread link([&] {
    for (; !finished; ++lines) rig.modem->write("AT+AB EnableBond\r\n", 18);
  });
  // The module reads in bursts, so the buffer fills again and again.
  for (int k = 0; !finished; ++k) {
    rig.sim.pauseReading(k % 40 < 30);
    pthread_kill(north.native_handle(), SIGUSR1);
    pthread_kill(link.native_handle(), SIGUSR1);
    usleep(1000);
  }
  rig.sim.pauseReading(false);
  north.join();
  link.join();

  ASSERT_TRUE(rig.sim.waitForMessages(kFrames, 10000));
  ASSERT_TRUE(rig.sim.waitForCommand("AT+AB EnableBond", 10000, lines));
  auto messages = rig.sim.messages();
  ASSERT_EQ(static_cast<size_t>(kFrames), messages.size());
  for (int i = 0; i < kFrames; ++i) {
    EXPECT_EQ(payloads[i], std::string(messages[i].begin(), messages[i].end())) << i;
  }
  auto commands = rig.sim.commands();
  EXPECT_EQ(lines, commands.size());
  for (const auto& c : commands) EXPECT_EQ("AT+AB EnableBond", c.line);
}

}  // namespace
