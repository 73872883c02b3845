// Heap allocations on the relay paths, counted by the global operator new of test_new.cpp:
// cutting and serialising a message, putting one back together, framing and unframing.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/YMsg.h"
#include "support/cFrameBatch.h"
#include "support/cHDLC.h"
#include "support/cReassembler.h"
#include "support/cYlog.h"
#include "tests/common/cTestNew.h"

namespace {

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 'A');
  return v;
}

TEST(Allocations, CuttingAMessageAllocatesNothingPerSegment) {
  std::vector<uint8_t> payload = pattern(65535);
  std::unique_ptr<YMsg> msg(YMsg::create(1, payload.data(), payload.size()));
  for (int max : {256, 1021, 1024}) {
    unsigned char buf[1024];
    long before = cTestNew::allocations();
    int segments = 0;
    msg->segmentMessage(max);
    msg->resetSegment();
    for (YMsg* s = msg->getNextSegment(); s != nullptr; s = msg->getNextSegment()) {
      ASSERT_GT(s->getMsg(buf, static_cast<unsigned short>(max)), 0);
      ++segments;
    }
    EXPECT_GT(segments, 60);
    EXPECT_LE(cTestNew::allocations() - before, 2) << "segment size " << max;  // the reused segment
  }
}

TEST(Allocations, ReassemblyAllocatesForTheFirstSegmentOnly) {
  cYlog log("AllocationsTest");
  cReassembler r(log, "test");
  std::vector<uint8_t> payload = pattern(60000);
  std::unique_ptr<YMsg> msg(YMsg::create(3, payload.data(), payload.size()));
  std::vector<std::vector<unsigned char>> units;
  msg->segmentMessage(1024);
  msg->resetSegment();
  for (YMsg* s = msg->getNextSegment(); s != nullptr; s = msg->getNextSegment()) {
    units.emplace_back(1024);
    units.back().resize(static_cast<size_t>(s->getMsg(units.back().data(), 1024)));
  }
  long before = cTestNew::allocations();
  YMsg* whole = nullptr;
  for (const auto& u : units) whole = r.onUnit(u.data(), static_cast<int>(u.size()));
  long used = cTestNew::allocations() - before;
  ASSERT_NE(nullptr, whole);
  EXPECT_EQ(payload, whole->payload());
  delete whole;
  // The message object and its payload, which grows geometrically: far fewer than one per unit.
  EXPECT_LE(used, 2 + 16) << units.size() << " units";
}

TEST(Allocations, FramingAndUnframingAllocateNothing) {
  std::vector<uint8_t> payload = pattern(1021);
  cHDLC h;
  auto* batch = new cFrameBatch;
  std::vector<unsigned char> stream;
  long before = cTestNew::allocations();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(batch->add(payload.data(), 1021));
  int frames = 0;
  h.unFrame(
      batch->data(), batch->size(),
      [](void* c, const unsigned char*, int) { ++*static_cast<int*>(c); }, &frames);
  EXPECT_EQ(0, cTestNew::allocations() - before);
  EXPECT_EQ(3, frames);
  delete batch;
}

}  // namespace
