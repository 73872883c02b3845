// Frames of one message leave in few bounded writes; a command line written meanwhile waits for
// at most the one batch being written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/cFrameBatch.h"
#include "tests/modem/cModemRig.h"

namespace {

std::vector<uint8_t> textPayload(size_t n) {
  const std::string unit = "AT-AB text with A, ~ and } in it. ";
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(unit[i % unit.size()]);
  return v;
}

// The southbound path of the daemon from a whole message to the serial line.
void sendSouthbound(cBTModem& modem, int id, const std::vector<uint8_t>& payload, int segSize) {
  YMsg* msg = YMsg::create(id, payload.data(), payload.size());
  modem.sendSegments(msg, segSize, nullptr, nullptr);
  delete msg;
}

TEST(ModemGather, AMessageOfSeveralFramesLeavesInFewWrites) {
  cModemRig rig;
  ASSERT_TRUE(rig.enterBypass());
  const struct {
    int segSize;
    size_t size;
    int maxWrites;  // the message's frames in cFrameBatch::kSize batches
  } cases[] = {{256, 1000, 1}, {256, 10000, 3}, {1021, 10000, 4}, {100, 4000, 1}};
  size_t delivered = 0;
  for (const auto& c : cases) {
    std::vector<uint8_t> payload = textPayload(c.size);
    int before = rig.log.count("Transmitting");
    sendSouthbound(*rig.modem, 5, payload, c.segSize);
    int writes = rig.log.count("Transmitting") - before;
    ASSERT_TRUE(rig.sim.waitForMessages(++delivered, 5000));
    EXPECT_EQ(payload, rig.sim.messages().back());
    EXPECT_GE(writes, 1);
    EXPECT_LE(writes, c.maxWrites) << c.size << " bytes at segment size " << c.segSize;
  }
  EXPECT_EQ(0u, rig.sim.droppedFrames());
}

// With the serial side not reading, the writer of a 64 KB message blocks once the line's buffer
// is full. A command line issued then must follow the batch in progress, not the whole message.
TEST(ModemGather, ALongMessageHoldsACommandLineBackForAtMostOneBatch) {
  cModemRig rig;
  ASSERT_TRUE(rig.enterBypass());
  rig.sim.recordRaw(true);

  // How much the line takes in before a writer blocks: filled with bytes that the peer ignores
  // (no flag, no 'A').
  rig.sim.pauseReading(true);
  int fd = open(rig.sim.ttyPath().c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY);
  ASSERT_GE(fd, 0);
  const std::string filler(1024, 'x');
  size_t capacity = 0;
  for (ssize_t n; (n = ::write(fd, filler.data(), filler.size())) > 0;) capacity += n;
  close(fd);
  rig.sim.pauseReading(false);
  ASSERT_TRUE(cModemRig::waitUntil([&] { return rig.sim.rawBypassBytes().size() >= capacity; }));
  rig.sim.clearRawBypassBytes();

  rig.sim.pauseReading(true);
  std::vector<uint8_t> payload = textPayload(65535);
  std::thread sender([&] { sendSouthbound(*rig.modem, 9, payload, 1021); });
  usleep(5000 * 1000);  // the sender is now blocked in a write
  const std::string line = "AT+AB Ping\r\n";
  std::thread commander([&] { rig.modem->write(line.data(), static_cast<int>(line.size())); });
  ASSERT_TRUE(rig.log.waitFor("Transmitting " + std::to_string(line.size()) + " bytes"));
  usleep(2000 * 1000);  // the command line now waits for its turn
  rig.sim.pauseReading(false);
  sender.join();
  commander.join();
  ASSERT_TRUE(rig.sim.waitForMessages(1, 10000));
  EXPECT_EQ(payload, rig.sim.messages().back());

  std::vector<uint8_t> raw = rig.sim.rawBypassBytes();
  auto at = std::search(raw.begin(), raw.end(), line.begin(), line.end());
  ASSERT_NE(raw.end(), at);
  size_t before = static_cast<size_t>(at - raw.begin());
  // The line's buffer, the rest of the batch being written, and a margin for the buffer's
  // bookkeeping, which depends on the sizes of the writes.
  EXPECT_LE(before, capacity + cFrameBatch::kSize + 4096);
  EXPECT_GT(raw.size() - before - line.size(), 30000u);  // most of the message came after it
}

}  // namespace
