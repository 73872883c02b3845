#include <gtest/gtest.h>
#include <pthread.h>

#include <string>
#include <vector>

#include "bench/cSimPeer.h"
#include "tests/modem/cModemRig.h"

namespace {

// Frames the driver hands on, with its mode at that moment.
struct cFrames {
  struct cFrame {
    std::vector<unsigned char> bytes;
    bool inBypass;
  };
  cBTModem* modem;
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  std::vector<cFrame> frames;

  explicit cFrames(cBTModem* m) : modem(m) { m->setFrameSink(&cFrames::add, this); }
  ~cFrames() { modem->setFrameSink(nullptr, nullptr); }
  static void add(void* self, const unsigned char* data, int len) {
    auto* f = static_cast<cFrames*>(self);
    pthread_mutex_lock(&f->mutex);
    f->frames.push_back({std::vector<unsigned char>(data, data + len), f->modem->inBypass()});
    pthread_mutex_unlock(&f->mutex);
  }
  std::vector<cFrame> get() {
    pthread_mutex_lock(&mutex);
    std::vector<cFrame> copy = frames;
    pthread_mutex_unlock(&mutex);
    return copy;
  }
};

std::string framed(int id, const std::string& text) {
  return cSimPeer::frameMessage(id, std::vector<uint8_t>(text.begin(), text.end()), 256);
}

TEST(ModemBypass, EscapeSplitOverTwoReadsEndsBypassMode) {
  cModemRig rig;
  ASSERT_TRUE(rig.enterBypass());
  ASSERT_TRUE(rig.sendRead("AT"));
  ASSERT_TRUE(rig.sendRead("-AB"));
  ASSERT_TRUE(rig.log.waitFor("Probably need to bail now"));
  auto steps = rig.log.matching("mURCIdx ");
  ASSERT_EQ(5u, steps.size());
  for (int i = 0; i < 5; ++i) EXPECT_EQ("mURCIdx " + std::to_string(i + 1), steps[i].message);
  EXPECT_EQ("INFO", rig.log.matching("Probably need to bail now")[0].level);
  EXPECT_FALSE(rig.modem->inBypass());
  rig.sim.sendLine(" BondOk");  // the rest of the status line the escape began
  EXPECT_TRUE(rig.log.waitFor("Bond Ok (pairing) URC"));
}

// A byte that breaks a partial match is tried again as a first character.
TEST(ModemBypass, EscapeDirectlyAfterAnotherAIsDetected) {
  cModemRig rig;
  ASSERT_TRUE(rig.enterBypass());
  ASSERT_TRUE(rig.sendRead("AAT-AB"));
  ASSERT_TRUE(rig.log.waitFor("Probably need to bail now"));
  EXPECT_EQ(2, rig.log.count("mURCIdx 1"));
  EXPECT_EQ(1, rig.log.count("mURCIdx 5"));
  EXPECT_EQ(1, rig.log.count("Probably need to bail now"));
  EXPECT_FALSE(rig.modem->inBypass());
}

// After five matched bytes the detector starts from 0: the next "AT-AB" after bypass mode is
// entered again is detected whole.
TEST(ModemBypass, EscapeDetectorRestartsAfterAFullMatch) {
  cModemRig rig;
  ASSERT_TRUE(rig.enterBypass());
  ASSERT_TRUE(rig.sendRead(std::string("AT-AB\0\0\r\n", 9)));
  ASSERT_TRUE(rig.log.waitFor("Not enough args for a URC"));
  EXPECT_EQ(1, rig.log.count("Probably need to bail now"));
  EXPECT_EQ(1, rig.log.count("Not enough args for a URC"));
  ASSERT_TRUE(rig.enterBypass());
  ASSERT_TRUE(rig.sendRead("AT-AB"));
  ASSERT_TRUE(rig.log.waitFor("Probably need to bail now", 2));
  EXPECT_EQ(2, rig.log.count("mURCIdx 5"));
}

// Frames split over reads are put together; the escape ends bypass mode at its byte, and a new
// "-BypassMode-" line in the same read starts unframing again right after its LF.
TEST(ModemBypass, FramesAreHandedOnWholeAcrossReadsAndModeChanges) {
  cModemRig rig;
  cFrames sink(rig.modem);
  ASSERT_TRUE(rig.enterBypass());
  std::string first = framed(1, "split over two reads");
  ASSERT_TRUE(rig.sendRead(first.substr(0, 7)));
  EXPECT_EQ(0u, sink.get().size());
  ASSERT_TRUE(rig.sendRead(first.substr(7)));
  ASSERT_TRUE(rig.sendRead(framed(2, "before") + "AT-AB -CommandMode-\r\nAT-AB -BypassMode-\r\n" +
                           framed(3, "after")));
  ASSERT_TRUE(cModemRig::waitUntil([&] { return sink.get().size() == 3; }));
  auto frames = sink.get();
  EXPECT_EQ(segmentOf(1, "split over two reads"), frames[0].bytes);
  EXPECT_EQ(segmentOf(2, "before"), frames[1].bytes);
  EXPECT_EQ(segmentOf(3, "after"), frames[2].bytes);
  for (const auto& f : frames) EXPECT_TRUE(f.inBypass);
  EXPECT_EQ(1, rig.log.count("Probably need to bail now"));
  EXPECT_EQ(1, rig.log.count("Command Mode URC"));
  EXPECT_TRUE(rig.modem->inBypass());
}

TEST(ModemBypass, SendFrameWritesOnlyInBypassMode) {
  cModemRig rig;
  std::vector<unsigned char> seg = segmentOf(5, "to the peer");
  rig.modem->sendFrame(seg.data(), static_cast<int>(seg.size()));
  usleep(200 * 1000);
  EXPECT_EQ(0u, rig.sim.bytesReceived());
  EXPECT_EQ(0, rig.log.count("Transmitting"));

  ASSERT_TRUE(rig.enterBypass());
  rig.modem->sendFrame(seg.data(), static_cast<int>(seg.size()));
  ASSERT_TRUE(rig.sim.waitForMessages(1, 2000));
  EXPECT_EQ(std::vector<uint8_t>({'t', 'o', ' ', 't', 'h', 'e', ' ', 'p', 'e', 'e', 'r'}),
            rig.sim.messages()[0]);
  EXPECT_EQ(std::vector<size_t>{seg.size()}, rig.sim.segmentSizes());

  // A payload the peer could not unframe is refused, not written.
  std::vector<unsigned char> big(cHDLC::kMaxPayload + 1, 0x55);
  size_t before = rig.sim.bytesReceived();
  rig.modem->sendFrame(big.data(), static_cast<int>(big.size()));
  EXPECT_EQ(1, rig.log.count("Frame payload of 1025 bytes dropped"));
  usleep(200 * 1000);
  EXPECT_EQ(before, rig.sim.bytesReceived());
}

}  // namespace
