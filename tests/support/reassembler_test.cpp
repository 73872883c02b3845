#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "support/cReassembler.h"
#include "support/cStats.h"
#include "tests/common/cLogCapture.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes unit(int id, int index, bool last, const Bytes& payload) {
  Bytes u(5 + payload.size());
  u[0] = static_cast<unsigned char>(id | (last ? 0x80 : 0));
  u[1] = static_cast<unsigned char>(index & 0xFF);
  u[2] = static_cast<unsigned char>(index >> 8);
  u[3] = static_cast<unsigned char>(payload.size() & 0xFF);
  u[4] = static_cast<unsigned char>(payload.size() >> 8);
  std::copy(payload.begin(), payload.end(), u.begin() + 5);
  return u;
}

class Reassembler : public ::testing::Test {
 protected:
  Reassembler() : mOwner("cBTMsg"), mR(mOwner, "module") {}

  std::unique_ptr<YMsg> feed(const Bytes& u) {
    return std::unique_ptr<YMsg>(mR.onUnit(u.data(), static_cast<int>(u.size())));
  }
  // Warnings under the owner's category that name the direction.
  int warnings() const {
    int n = 0;
    for (const auto& r : mLog.matching("From module: ", "cBTMsg")) n += r.level == "WARN";
    return n;
  }

  cLogCapture mLog;
  cYlog mOwner;
  cReassembler mR;
};

TEST_F(Reassembler, OneSegmentMessageIsTheParsedObject) {
  std::unique_ptr<YMsg> m = feed(unit(5, 0, true, {1, 2, 3}));
  ASSERT_TRUE(m);
  EXPECT_EQ(5, m->getMsgId());
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), m->payload());
  EXPECT_FALSE(mR.hasPending());
  EXPECT_EQ(0, warnings());
}

TEST_F(Reassembler, SegmentsInOrderGiveTheWholeMessageOnce) {
  EXPECT_FALSE(feed(unit(7, 0, false, {1, 2})));
  EXPECT_TRUE(mR.hasPending());
  EXPECT_FALSE(feed(unit(7, 1, false, {3})));
  std::unique_ptr<YMsg> m = feed(unit(7, 2, true, {4, 5}));
  ASSERT_TRUE(m);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5}), m->payload());
  EXPECT_TRUE(m->isLastSegment());
  EXPECT_FALSE(mR.hasPending());
  // The next message starts clean.
  EXPECT_FALSE(feed(unit(7, 1, true, {9})));
  EXPECT_EQ(1, warnings());
}

TEST_F(Reassembler, InvalidUnitIsDroppedAndPendingStays) {
  EXPECT_FALSE(feed(unit(3, 0, false, {1})));
  Bytes cut = unit(3, 1, true, {2, 3, 4});
  cut.pop_back();
  EXPECT_FALSE(feed(cut));
  EXPECT_FALSE(feed(Bytes{0x83, 0}));
  EXPECT_EQ(1, mLog.count("From module: invalid segment of 7 bytes dropped", "cBTMsg"));
  EXPECT_EQ(1, mLog.count("From module: invalid segment of 2 bytes dropped", "cBTMsg"));
  EXPECT_EQ(nullptr, mR.onUnit(nullptr, 0));
  EXPECT_EQ(nullptr, mR.onUnit(cut.data(), -1));
  EXPECT_TRUE(mR.hasPending());
  std::unique_ptr<YMsg> m = feed(unit(3, 1, true, {2}));
  ASSERT_TRUE(m);
  EXPECT_EQ((std::vector<uint8_t>{1, 2}), m->payload());
}

TEST_F(Reassembler, IndexZeroStartsANewMessage) {
  EXPECT_FALSE(feed(unit(1, 0, false, {1})));
  EXPECT_FALSE(feed(unit(2, 0, false, {2})));  // stale message 1 dropped
  EXPECT_EQ(1, warnings());
  std::unique_ptr<YMsg> m = feed(unit(2, 1, true, {3}));
  ASSERT_TRUE(m);
  EXPECT_EQ((std::vector<uint8_t>{2, 3}), m->payload());
  // The same id starting again also restarts, and a one-segment message replaces the partial one.
  EXPECT_FALSE(feed(unit(4, 0, false, {1})));
  m = feed(unit(4, 0, true, {8}));
  ASSERT_TRUE(m);
  EXPECT_EQ((std::vector<uint8_t>{8}), m->payload());
  EXPECT_FALSE(mR.hasPending());
  EXPECT_EQ(2, warnings());
}

TEST_F(Reassembler, WrongIndexDropsPendingAndSegment) {
  EXPECT_FALSE(feed(unit(6, 0, false, {1})));
  EXPECT_FALSE(feed(unit(6, 2, true, {3})));  // segment 1 lost
  EXPECT_FALSE(mR.hasPending());
  EXPECT_EQ(1, warnings());
  EXPECT_EQ(1, mLog.count("segment 1 was expected"));
  // A repeated segment is a wrong index too.
  EXPECT_FALSE(feed(unit(6, 0, false, {1})));
  EXPECT_FALSE(feed(unit(6, 1, false, {2})));
  EXPECT_FALSE(feed(unit(6, 1, true, {2})));
  EXPECT_FALSE(mR.hasPending());
  EXPECT_FALSE(feed(unit(6, 2, true, {3})));  // nothing pending any more: a lost start
}

TEST_F(Reassembler, ForeignSegmentIsDiscardedAndPendingStays) {
  EXPECT_FALSE(feed(unit(10, 0, false, {1})));
  EXPECT_FALSE(feed(unit(11, 1, true, {9})));
  EXPECT_EQ(1, warnings());
  EXPECT_TRUE(mR.hasPending());
  std::unique_ptr<YMsg> m = feed(unit(10, 1, true, {2}));
  ASSERT_TRUE(m);
  EXPECT_EQ(10, m->getMsgId());
  EXPECT_EQ((std::vector<uint8_t>{1, 2}), m->payload());
}

TEST_F(Reassembler, TailOfALostStartIsNeverReturned) {
  EXPECT_FALSE(feed(unit(12, 1, false, {1})));
  EXPECT_FALSE(feed(unit(12, 2, true, {2})));
  EXPECT_FALSE(mR.hasPending());
  EXPECT_EQ(2, warnings());
  EXPECT_EQ(1, mLog.count("segment 2 of message 12 dropped: the start of its message was lost"));
}

TEST_F(Reassembler, MessageOver65535BytesIsDropped) {
  Bytes chunk(65530, 0x5A);
  EXPECT_FALSE(feed(unit(20, 0, false, chunk)));
  EXPECT_FALSE(feed(unit(20, 1, false, Bytes(5, 1))));  // exactly 65535 so far
  EXPECT_TRUE(mR.hasPending());
  EXPECT_EQ(0, warnings());
  EXPECT_FALSE(feed(unit(20, 2, true, Bytes(1, 2))));
  EXPECT_FALSE(mR.hasPending());
  EXPECT_EQ(1, mLog.count("would exceed 65535 bytes"));
  // Further segments of the dropped message are tails of a lost start.
  EXPECT_FALSE(feed(unit(20, 3, true, Bytes(1, 2))));
  EXPECT_EQ(2, warnings());
}

TEST_F(Reassembler, DestructionReleasesAPendingMessage) {
  auto r = std::make_unique<cReassembler>(mOwner, "broker");
  Bytes u = unit(1, 0, false, Bytes(100, 1));
  EXPECT_EQ(nullptr, r->onUnit(u.data(), static_cast<int>(u.size())));
  EXPECT_TRUE(r->hasPending());
  r.reset();  // ASan reports the partial message if it leaks
}

// Every drop moves its own counter of the direction given, and no other; a reassembler made
// without a direction moves none.
TEST_F(Reassembler, EveryDropIsCountedUnderItsReason) {
  struct {
    std::vector<Bytes> units;
    cStats::Counter counter;
  } rows[] = {
      {{Bytes{0x83, 0}}, cStats::kInvalidUnits},
      {{unit(1, 0, false, {1}), unit(2, 0, true, {2})}, cStats::kStalePartials},
      {{unit(3, 1, true, {1})}, cStats::kLostStarts},
      {{unit(4, 0, false, {1}), unit(5, 1, true, {2}), unit(4, 1, true, {3})}, cStats::kLostStarts},
      {{unit(6, 0, false, {1}), unit(6, 2, true, {2})}, cStats::kOutOfOrder},
      {{unit(7, 0, false, Bytes(65530, 1)), unit(7, 1, true, Bytes(6, 1))}, cStats::kOversize},
  };
  auto snapshot = [] {
    std::vector<uint64_t> v;
    for (int d = 0; d < cStats::kDirs; ++d) {
      for (int c = 0; c < cStats::kCounters; ++c) {
        v.push_back(cStats::get(static_cast<cStats::Dir>(d), static_cast<cStats::Counter>(c)));
      }
    }
    return v;
  };
  for (const auto& row : rows) {
    for (bool counted : {true, false}) {
      cReassembler r(mOwner, "module", cStats::kNorth);
      cReassembler plain(mOwner, "module");
      std::vector<uint64_t> expected = snapshot();
      if (counted) ++expected[cStats::kCounters * cStats::kNorth + row.counter];
      for (const Bytes& u : row.units) {
        delete (counted ? r : plain).onUnit(u.data(), static_cast<int>(u.size()));
      }
      EXPECT_EQ(expected, snapshot()) << "counter " << row.counter;
    }
  }
}

}  // namespace
