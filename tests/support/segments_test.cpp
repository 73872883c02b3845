#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/YMsg.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 31 + 7);
  return b;
}

// Runs the daemon's sending sequence and returns the serialised units.
std::vector<Bytes> cut(YMsg* msg, int max) {
  std::vector<Bytes> units;
  EXPECT_TRUE(msg->segmentMessage(max));
  msg->resetSegment();
  while (YMsg* seg = msg->getNextSegment()) {
    Bytes out(max);
    int n = seg->getMsg(out.data(), static_cast<unsigned short>(max));
    EXPECT_GT(n, 0);
    out.resize(n);
    units.push_back(out);
  }
  return units;
}

// Cutting, parsing and putting back together for every size and maximum are checked against
// a model by the fuzz target; these are the fixed points.
TEST(Segments, SerialisedLayoutOfAOneSegmentMessage) {
  std::unique_ptr<YMsg> msg(YMsg::create(0x85, "\x01\x02\x03", 3));  // the id keeps 7 bits
  ASSERT_TRUE(msg);
  EXPECT_EQ(0x05, msg->getMsgId());
  std::vector<Bytes> units = cut(msg.get(), 256);
  ASSERT_EQ(1u, units.size());
  EXPECT_EQ((Bytes{0x85, 0x00, 0x00, 0x03, 0x00, 0x01, 0x02, 0x03}), units[0]);
  msg->resetSegment();
  EXPECT_TRUE(msg->getNextSegment()->isLastSegment());
  EXPECT_EQ(nullptr, msg->getNextSegment());
}

TEST(Segments, TheSmallestCutCarriesOneBytePerSegmentAndBelowItNothingIsCut) {
  Bytes payload = pattern(3);
  std::unique_ptr<YMsg> msg(YMsg::create(1, payload.data(), 3));
  EXPECT_EQ(3u, cut(msg.get(), 6).size());
  EXPECT_FALSE(msg->segmentMessage(5));
  msg->resetSegment();
  EXPECT_EQ(nullptr, msg->getNextSegment());
  EXPECT_FALSE(msg->segmentMessage(-1));
}

TEST(Segments, GetMsgWritesNothingWhenTheSegmentDoesNotFit) {
  Bytes payload = pattern(10);
  std::unique_ptr<YMsg> msg(YMsg::create(1, payload.data(), 10));
  Bytes buf(20, 0xEE);
  EXPECT_EQ(0, msg->getMsg(buf.data(), 14));
  EXPECT_EQ(Bytes(20, 0xEE), buf);
  EXPECT_EQ(15, msg->getMsg(buf.data(), 15));
  EXPECT_EQ(0xEE, buf[15]);
}

TEST(Segments, PayloadLimitOf65535) {
  Bytes big = pattern(YMsg::kMaxPayload);
  EXPECT_EQ(nullptr, YMsg::create(1, big.data(), big.size() + 1));
  std::unique_ptr<YMsg> full(YMsg::create(1, big.data(), big.size()));
  ASSERT_TRUE(full);
  std::unique_ptr<YMsg> one(YMsg::create(1, "x", 1));
  std::unique_ptr<YMsg> none(YMsg::create(1, nullptr, 0));
  EXPECT_FALSE(full->addSegment(one.get()));
  EXPECT_EQ(big, full->payload());
  EXPECT_TRUE(full->addSegment(none.get()));

  std::unique_ptr<YMsg> almost(YMsg::create(1, big.data(), big.size() - 1));
  EXPECT_TRUE(almost->addSegment(one.get()));
  EXPECT_EQ(YMsg::kMaxPayload, almost->payload().size());
}

}  // namespace
