// The codec through the public C interface: round trips at the segment sizes that matter, the
// output bound, the event flow of feed/next, and every kind of bad input.
#include <errno.h>

#include <algorithm>
#include <cstring>

#include "tests/libferry/cCodecTest.h"

using namespace cCodecTest;

namespace {

std::vector<uint8_t> join(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct cRoundTrip {
  int kind;
  int segmentSize;
};

class RoundTrip : public ::testing::TestWithParam<cRoundTrip> {};

// Messages from empty to the largest, full of bytes the framing escapes, come back whole and in
// order however the serial stream is cut; 'A' (so "AT-AB") never appears raw on the line. At the
// smallest segment size (the largest message takes 65,535 segments): the test vectors hold each
// kind's other sizes.
TEST_P(RoundTrip, MessagesComeBackWhole) {
  cCodecPtr tx(GetParam().kind, GetParam().segmentSize);
  const std::vector<size_t> sizes = {0, 1, 5, 1000, 65535};
  std::vector<std::vector<uint8_t>> units;
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::vector<uint8_t> m = awkward(sizes[i], static_cast<unsigned>(i + 1));
    ASSERT_EQ(static_cast<int>(i), ferry_codec_send(tx, m.data(), m.size(), FERRY_ID_AUTO));
    auto out = takeOutput(tx);
    size_t total = join(out).size();
    EXPECT_LE(total, ferry_codec_encoded_size(tx, m.size()));
    units.insert(units.end(), out.begin(), out.end());
  }
  for (size_t piece : {size_t{1}, size_t{7}, size_t{1} << 30}) {
    cCodecPtr rx(GetParam().kind, 0);  // the receiver takes any segment size
    cDecoded got;
    if (GetParam().kind == FERRY_KIND_SERIAL) {
      std::vector<uint8_t> line = join(units);
      EXPECT_EQ(line.end(), std::find(line.begin(), line.end(), 'A'));
      got = feedStream(rx, line, piece);
    } else {
      for (const auto& d : units) ASSERT_LE(d.size(), size_t(GetParam().segmentSize));
      got = feedDatagrams(rx, units);
    }
    ASSERT_EQ(sizes.size(), got.messages.size()) << "piece " << piece;
    for (size_t i = 0; i < sizes.size(); ++i) {
      EXPECT_EQ(awkward(sizes[i], static_cast<unsigned>(i + 1)), got.messages[i]);
      EXPECT_EQ(static_cast<int>(i), got.ids[i]);
    }
    EXPECT_TRUE(got.drops.empty());
    ferry_counters k;
    ferry_codec_counters(rx, &k, sizeof k);
    EXPECT_EQ(sizes.size(), k.messages);
    EXPECT_EQ(66541u, k.bytes);
    if (GetParam().kind == FERRY_KIND_DATAGRAM) break;  // datagrams are not cut
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip,
                         ::testing::Values(cRoundTrip{FERRY_KIND_SERIAL, 6},
                                           cRoundTrip{FERRY_KIND_DATAGRAM, 6}),
                         [](const ::testing::TestParamInfo<cRoundTrip>& p) {
                           return (p.param.kind == FERRY_KIND_SERIAL ? "serial" : "datagram") +
                                  std::to_string(p.param.segmentSize);
                         });

// A caller that does not take its output gets -EAGAIN, with nothing of the refused message
// queued; the output taken in odd pieces still decodes.
TEST(Codec, OutputIsBounded) {
  cCodecPtr tx(FERRY_KIND_SERIAL, 256);
  std::vector<uint8_t> m = awkward(1000);
  int sent = 0;
  while (ferry_codec_send(tx, m.data(), m.size(), FERRY_ID_AUTO) >= 0) ++sent;
  size_t pending = ferry_codec_pending(tx);
  EXPECT_GE(pending, size_t{FERRY_OUTPUT_LIMIT});
  EXPECT_LT(pending, FERRY_OUTPUT_LIMIT + ferry_codec_encoded_size(tx, m.size()));
  EXPECT_EQ(-EAGAIN, ferry_codec_send(tx, m.data(), m.size(), FERRY_ID_AUTO));
  EXPECT_EQ(pending, ferry_codec_pending(tx));
  EXPECT_NE(nullptr, strstr(ferry_codec_error(tx), "not yet taken"));
  EXPECT_EQ(-EINVAL, ferry_codec_send(tx, m.data(), m.size(), 200));  // named first

  std::vector<uint8_t> line;
  const uint8_t* data;
  size_t length;
  while (ferry_codec_output(tx, &data, &length) == 0 && length > 0) {
    size_t n = std::min<size_t>(length, 333);
    line.insert(line.end(), data, data + n);
    ASSERT_EQ(0, ferry_codec_consume(tx, n));
  }
  EXPECT_EQ(sent, ferry_codec_send(tx, m.data(), m.size(), FERRY_ID_AUTO));
  cCodecPtr rx(FERRY_KIND_SERIAL, 0);
  cDecoded got = feedStream(rx, line, 4096);
  ASSERT_EQ(size_t(sent), got.messages.size());
  for (const auto& g : got.messages) EXPECT_EQ(m, g);
}

TEST(Codec, IdsCountRoundUnlessGiven) {
  cCodecPtr tx(FERRY_KIND_DATAGRAM, 0);
  for (int i = 0; i < 130; ++i) {
    if (i == 50) {
      EXPECT_EQ(99, ferry_codec_send(tx, "x", 1, 99));
    }
    ASSERT_EQ(i % 128, ferry_codec_send(tx, "x", 1, FERRY_ID_AUTO));
    takeOutput(tx);
  }
  EXPECT_EQ(77, ferry_codec_send(tx, "x", 1, 77));
  EXPECT_EQ(2, ferry_codec_send(tx, "x", 1, FERRY_ID_AUTO));
}

// Encoding into the caller's buffer gives the bytes send queues; a buffer one byte short is
// refused whole, and the refused message does not use up an id.
TEST(Codec, EncodeMatchesSend) {
  cCodecPtr a(FERRY_KIND_SERIAL, 64);
  cCodecPtr b(FERRY_KIND_SERIAL, 64);
  std::vector<uint8_t> m = awkward(500);
  ASSERT_EQ(0, ferry_codec_send(a, m.data(), m.size(), FERRY_ID_AUTO));
  std::vector<uint8_t> queued = join(takeOutput(a));
  std::vector<uint8_t> out(queued.size());
  size_t written = 99;
  EXPECT_EQ(-ENOSPC, ferry_codec_encode(b, m.data(), m.size(), FERRY_ID_AUTO, out.data(),
                                        out.size() - 1, &written));
  EXPECT_EQ(0u, written);
  EXPECT_EQ(0, ferry_codec_encode(b, m.data(), m.size(), FERRY_ID_AUTO, out.data(), out.size(),
                                  &written));
  EXPECT_EQ(queued, out);
}

// feed stops after the frame that gave an event and takes nothing more until the events are
// taken (that decode gives what feed and next give, the fuzz target checks).
TEST(Codec, FeedStopsAtEachEvent) {
  cCodecPtr tx(FERRY_KIND_SERIAL, 0);
  std::vector<std::vector<uint8_t>> msgs = {awkward(10, 1), awkward(3000, 2)};
  for (const auto& m : msgs) ferry_codec_send(tx, m.data(), m.size(), FERRY_ID_AUTO);
  std::vector<uint8_t> line = join(takeOutput(tx));
  cCodecPtr one(FERRY_KIND_SERIAL, 0);
  ferry_codec_send(one, msgs[0].data(), msgs[0].size(), FERRY_ID_AUTO);
  size_t firstFrame = ferry_codec_pending(one);

  cCodecPtr rx(FERRY_KIND_SERIAL, 0);
  size_t used = 0;
  ASSERT_EQ(0, ferry_codec_feed(rx, line.data(), line.size(), &used));
  EXPECT_EQ(firstFrame, used);
  size_t again = 1;
  EXPECT_EQ(-EAGAIN, ferry_codec_feed(rx, line.data() + used, line.size() - used, &again));
  EXPECT_EQ(0u, again);
}

// A line that went away: the partial frame and message are forgotten, without a drop.
TEST(Codec, ResetInputForgetsThePartialMessage) {
  cCodecPtr tx(FERRY_KIND_SERIAL, 16);
  std::vector<uint8_t> m = awkward(100);
  ferry_codec_send(tx, m.data(), m.size(), FERRY_ID_AUTO);
  std::vector<uint8_t> line = join(takeOutput(tx));
  cCodecPtr rx(FERRY_KIND_SERIAL, 0);
  cDecoded cut = feedStream(rx, std::vector<uint8_t>(line.begin(), line.begin() + 50), 50);
  EXPECT_TRUE(cut.messages.empty());
  ASSERT_EQ(0, ferry_codec_reset_input(rx));
  cDecoded got = feedStream(rx, line, 1 << 20);
  ASSERT_EQ(1u, got.messages.size());
  EXPECT_TRUE(got.drops.empty());
}

TEST(Codec, BadInputIsRefusedWithAMessage) {
  ferry_codec* c = reinterpret_cast<ferry_codec*>(1);
  EXPECT_EQ(-EINVAL, ferry_codec_new(FERRY_KIND_SERIAL, 5, &c));
  EXPECT_EQ(nullptr, c);
  EXPECT_EQ(-EINVAL, ferry_codec_new(FERRY_KIND_SERIAL, 1022, &c));
  EXPECT_EQ(-EINVAL, ferry_codec_new(FERRY_KIND_DATAGRAM, 1025, &c));
  EXPECT_EQ(-EINVAL, ferry_codec_new(3, 256, &c));
  EXPECT_EQ(-EINVAL, ferry_codec_new(FERRY_KIND_SERIAL, 256, nullptr));

  cCodecPtr tx(FERRY_KIND_DATAGRAM, 0);
  std::vector<uint8_t> big(65536);
  EXPECT_EQ(-EMSGSIZE, ferry_codec_send(tx, big.data(), big.size(), FERRY_ID_AUTO));
  EXPECT_NE(nullptr, strstr(ferry_codec_error(tx), "65536"));
  EXPECT_EQ(-EINVAL, ferry_codec_send(tx, "x", 1, 128));
  EXPECT_EQ(-EINVAL, ferry_codec_send(tx, nullptr, 1, FERRY_ID_AUTO));
  EXPECT_EQ(0u, ferry_codec_pending(tx));
  EXPECT_EQ(0, ferry_codec_send(tx, "abc", 3, FERRY_ID_AUTO));  // nothing used up id 0
  EXPECT_EQ(-EINVAL, ferry_codec_consume(tx, 2));               // a datagram is taken whole
  EXPECT_EQ(-EINVAL, ferry_codec_consume(tx, 9));
  EXPECT_EQ(0, ferry_codec_consume(tx, 8));

  size_t used;
  ferry_event ev;
  EXPECT_EQ(-EINVAL, ferry_codec_send(nullptr, "x", 1, FERRY_ID_AUTO));
  EXPECT_EQ(-EINVAL, ferry_codec_feed(nullptr, "x", 1, &used));
  EXPECT_EQ(-EINVAL, ferry_codec_feed(tx, nullptr, 1, &used));
  EXPECT_EQ(-EINVAL, ferry_codec_next(nullptr, &ev, sizeof ev));
  EXPECT_EQ(-EINVAL, ferry_codec_counters(nullptr, nullptr, 0));
  EXPECT_STRNE("", ferry_codec_error(nullptr));
  ferry_codec_free(nullptr);
}

// A caller built against an older, shorter struct gets only the fields it knows.
TEST(Codec, CountersCopyOnlyWhatTheCallerKnows) {
  cCodecPtr tx(FERRY_KIND_DATAGRAM, 0);
  ferry_codec_send(tx, "abcd", 4, FERRY_ID_AUTO);
  ferry_counters k;
  std::memset(&k, 0xEE, sizeof k);
  ASSERT_EQ(0, ferry_codec_counters(tx, &k, offsetof(ferry_counters, sent_bytes)));
  EXPECT_EQ(1u, k.sent_messages);
  EXPECT_EQ(0xEEEEEEEEEEEEEEEEu, k.sent_bytes);
}

// Segment events come only when asked for, one per valid segment with its serialised size, and
// the messages still come as before.
TEST(Codec, SegmentEventsOnlyWhenAsked) {
  cCodecPtr tx(FERRY_KIND_SERIAL, 100);
  std::vector<uint8_t> m = awkward(250);
  ferry_codec_send(tx, m.data(), m.size(), 9);
  std::vector<uint8_t> line = takeOutput(tx)[0];
  for (int on : {0, 1}) {
    cCodecPtr rx(FERRY_KIND_SERIAL, 0);
    ASSERT_EQ(0, ferry_codec_set_option(rx, FERRY_OPTION_SEGMENT_EVENTS, on));
    cDecoded got = feedStream(rx, line, line.size());
    EXPECT_EQ(1u, got.messages.size());
    EXPECT_TRUE(got.drops.empty());
    EXPECT_EQ(on ? std::vector<size_t>({100, 100, 65}) : std::vector<size_t>(), got.segments);
    EXPECT_EQ(on ? std::vector<int>({9, 9, 9}) : std::vector<int>(), got.segmentIds);
  }
  cCodecPtr rx(FERRY_KIND_SERIAL, 0);
  EXPECT_EQ(-EINVAL, ferry_codec_set_option(rx, 99, 1));
}

}  // namespace
