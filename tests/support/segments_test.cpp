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

TEST(Segments, SerialisedLayoutAndOneSegmentMessage) {
  std::unique_ptr<YMsg> msg(YMsg::create(0x85, "\x01\x02\x03", 3));  // the id keeps 7 bits
  ASSERT_TRUE(msg);
  EXPECT_EQ(0x05, msg->getMsgId());
  std::vector<Bytes> units = cut(msg.get(), 256);
  ASSERT_EQ(1u, units.size());
  EXPECT_EQ((Bytes{0x85, 0x00, 0x00, 0x03, 0x00, 0x01, 0x02, 0x03}), units[0]);
  msg->resetSegment();
  EXPECT_TRUE(msg->getNextSegment()->isLastSegment());
  EXPECT_EQ(nullptr, msg->getNextSegment());

  std::unique_ptr<YMsg> empty(YMsg::create(3, nullptr, 0));
  units = cut(empty.get(), 6);
  ASSERT_EQ(1u, units.size());
  EXPECT_EQ((Bytes{0x83, 0, 0, 0, 0}), units[0]);

  // parseMsg reads back every header field and keeps its own copy of the bytes.
  Bytes unit = {0x12, 0x34, 0x02, 0x02, 0x00, 0xAA, 0xBB};
  std::unique_ptr<YMsg> seg(YMsg::parseMsg(unit.data(), 7));
  unit.assign(unit.size(), 0);
  ASSERT_TRUE(seg);
  EXPECT_EQ(0x12, seg->getMsgId());
  EXPECT_EQ(0x0234, seg->getSegIndex());
  EXPECT_FALSE(seg->isLastSegment());
  EXPECT_EQ((Bytes{0xAA, 0xBB}), seg->payload());
}

TEST(Segments, CuttingAtMax) {
  const int max = 100;
  for (size_t size : {size_t(2 * (max - 5)), size_t(2 * (max - 5) + 1), size_t(1)}) {
    Bytes payload = pattern(size);
    std::unique_ptr<YMsg> msg(YMsg::create(9, payload.data(), size));
    std::vector<Bytes> units = cut(msg.get(), max);
    ASSERT_EQ((size + max - 6) / (max - 5), units.size()) << size;
    Bytes joined;
    for (size_t i = 0; i < units.size(); ++i) {
      bool last = i + 1 == units.size();
      const Bytes& u = units[i];
      EXPECT_EQ(last ? 5 + size - i * (max - 5) : size_t(max), u.size());
      EXPECT_EQ(last ? 0x89 : 0x09, u[0]);
      EXPECT_EQ(i, size_t(u[1] | u[2] << 8));
      joined.insert(joined.end(), u.begin() + 5, u.end());
    }
    EXPECT_EQ(payload, joined);
  }

  // The smallest cut carries one byte per segment; below it nothing is cut.
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

TEST(Segments, InvalidUnitsAreRefused) {
  Bytes unit = {0x81, 0, 0, 4, 0, 1, 2, 3, 4, 5};
  for (unsigned short len = 0; len < 5; ++len) EXPECT_EQ(nullptr, YMsg::parseMsg(unit.data(), len));
  EXPECT_EQ(nullptr, YMsg::parseMsg(unit.data(), 8));   // shorter than its length field
  EXPECT_EQ(nullptr, YMsg::parseMsg(unit.data(), 10));  // longer than its length field
  EXPECT_EQ(nullptr, YMsg::parseMsg(nullptr, 9));
  std::unique_ptr<YMsg> ok(YMsg::parseMsg(unit.data(), 9));
  EXPECT_TRUE(ok);
  // A length field in the high byte: 0x0100 bytes announced, 4 present.
  Bytes high = {0x81, 0, 0, 0, 1, 1, 2, 3, 4};
  EXPECT_EQ(nullptr, YMsg::parseMsg(high.data(), 9));
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

  // The largest message still cuts into units that parse back.
  std::vector<Bytes> units = cut(full.get(), 1024);
  EXPECT_EQ((YMsg::kMaxPayload + 1018) / 1019, units.size());
  std::unique_ptr<YMsg> back(YMsg::parseMsg(units.back().data(), units.back().size()));
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->isLastSegment());
  EXPECT_EQ(units.size() - 1, size_t(back->getSegIndex()));
}

// The views the north link sends from (header and a slice of the payload, no copy) give the
// bytes getMsg writes, for every segment of every cut: empty, one byte, exact multiples, one over.
TEST(Segments, ViewsGiveTheBytesOfGetMsg) {
  for (size_t size : {0u, 1u, 1018u, 1019u, 1020u, 2038u, 4000u, 65535u}) {
    Bytes payload = pattern(size);
    std::unique_ptr<YMsg> msg(YMsg::create(9, payload.data(), payload.size()));
    ASSERT_TRUE(msg);
    for (int max : {6, 256, 1024}) {
      std::vector<Bytes> units = cut(msg.get(), max);
      ASSERT_EQ(units.size(), msg->segmentCount());
      for (size_t k = 0; k < units.size(); ++k) {
        YMsg::cSegmentView view;
        ASSERT_TRUE(msg->viewSegment(k, &view));
        Bytes joined(view.header, view.header + YMsg::kHeaderSize);
        if (view.length > 0) joined.insert(joined.end(), view.payload, view.payload + view.length);
        EXPECT_EQ(units[k], joined) << size << " bytes cut at " << max << ", segment " << k;
      }
      YMsg::cSegmentView past;
      EXPECT_FALSE(msg->viewSegment(units.size(), &past));
    }
  }
}

}  // namespace
