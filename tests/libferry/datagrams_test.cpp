// The datagram kind's calls that move several datagrams at once: they stop at the caller's
// bounds without taking a part of anything, and refuse the serial kind and bad arguments. That
// they give what one datagram a call gives, whatever the bounds, the fuzz target checks.
#include <errno.h>

#include <cstring>

#include "tests/libferry/cCodecTest.h"

using namespace cCodecTest;

using Datagrams = std::vector<std::vector<uint8_t>>;

// A message that does not fit stays pending, whole: its datagram counts as taken, no later one
// is fed, and a call with no datagrams (or ferry_codec_next) hands it out.
TEST(Datagrams, AMessageThatDoesNotFitWaitsWhole) {
  cCodecPtr tx(FERRY_KIND_DATAGRAM, 0);
  std::vector<uint8_t> a = awkward(100, 1), b = awkward(10, 2);
  ferry_codec_send(tx, a.data(), a.size(), FERRY_ID_AUTO);
  ferry_codec_send(tx, b.data(), b.size(), FERRY_ID_AUTO);
  Datagrams d = takeOutput(tx);
  std::vector<uint8_t> data = d[0];
  data.insert(data.end(), d[1].begin(), d[1].end());
  size_t lengths[2] = {d[0].size(), d[1].size()};
  cCodecPtr rx(FERRY_KIND_DATAGRAM, 0);
  std::vector<uint8_t> out(99);
  ferry_event ev[4];
  size_t taken = 0;
  EXPECT_EQ(0, ferry_codec_decode_datagrams(rx, data.data(), lengths, 2, &taken, out.data(),
                                            out.size(), ev, 4, sizeof ev[0]));
  EXPECT_EQ(1u, taken);
  EXPECT_EQ(-EAGAIN, ferry_codec_feed(rx, d[1].data(), d[1].size(), &taken));
  out.resize(100);
  EXPECT_EQ(1, ferry_codec_decode_datagrams(rx, nullptr, nullptr, 0, &taken, out.data(), out.size(),
                                            ev, 4, sizeof ev[0]));
  EXPECT_EQ(0u, taken);
  EXPECT_EQ(a, std::vector<uint8_t>(ev[0].data, ev[0].data + ev[0].length));
}

// Queued datagrams come out back to back, as many as fit, never a part of one; a buffer too
// small for the next one is refused with nothing taken.
TEST(Datagrams, TakeManyStopsAtTheCallersBounds) {
  cCodecPtr tx(FERRY_KIND_DATAGRAM, 0);
  std::vector<std::vector<uint8_t>> msgs = {awkward(1019, 1), {}, awkward(1020, 2), awkward(7, 3)};
  for (const auto& m : msgs) ferry_codec_send(tx, m.data(), m.size(), FERRY_ID_AUTO);
  cCodecPtr copy(FERRY_KIND_DATAGRAM, 0);
  for (const auto& m : msgs) ferry_codec_send(copy, m.data(), m.size(), FERRY_ID_AUTO);
  Datagrams expected = takeOutput(copy);
  ASSERT_EQ(5u, expected.size());  // 1020 bytes of message take two datagrams of 1024
  std::vector<uint8_t> out(2048);
  size_t lengths[8];
  EXPECT_EQ(-ENOSPC, ferry_codec_take_datagrams(tx, out.data(), 1023, lengths, 8));
  EXPECT_NE(nullptr, strstr(ferry_codec_error(tx), "1024"));
  size_t pending = ferry_codec_pending(tx);
  EXPECT_EQ(0, ferry_codec_take_datagrams(tx, out.data(), out.size(), lengths, 0));
  EXPECT_EQ(pending, ferry_codec_pending(tx));

  Datagrams got;
  for (int n; (n = ferry_codec_take_datagrams(tx, out.data(), out.size(), lengths, 8)) > 0;) {
    size_t at = 0;
    for (int i = 0; i < n; ++i) {
      got.emplace_back(out.begin() + at, out.begin() + at + lengths[i]);
      at += lengths[i];
    }
    EXPECT_LE(at, out.size());
  }
  EXPECT_EQ(expected, got);
  EXPECT_EQ(0u, ferry_codec_pending(tx));
}

TEST(Datagrams, SerialKindAndBadArgumentsAreRefused) {
  cCodecPtr serial(FERRY_KIND_SERIAL, 0);
  uint8_t out[16];
  size_t lengths[2] = {1, 0}, taken = 7;
  ferry_event ev;
  EXPECT_EQ(-EINVAL, ferry_codec_take_datagrams(serial, out, sizeof out, lengths, 2));
  EXPECT_EQ(-EINVAL, ferry_codec_decode_datagrams(serial, "x", lengths, 1, &taken, out, sizeof out,
                                                  &ev, 1, sizeof ev));
  EXPECT_NE(nullptr, strstr(ferry_codec_error(serial), "datagram"));
  EXPECT_EQ(0u, taken);
  cCodecPtr rx(FERRY_KIND_DATAGRAM, 0);
  EXPECT_EQ(-EINVAL, ferry_codec_decode_datagrams(rx, nullptr, lengths, 1, &taken, out, sizeof out,
                                                  &ev, 1, sizeof ev));
  EXPECT_EQ(-EINVAL, ferry_codec_decode_datagrams(rx, "x", nullptr, 1, &taken, out, sizeof out, &ev,
                                                  1, sizeof ev));
  EXPECT_EQ(-EINVAL, ferry_codec_take_datagrams(rx, nullptr, 16, lengths, 2));
  EXPECT_EQ(-EINVAL, ferry_codec_take_datagrams(nullptr, out, sizeof out, lengths, 2));
  ferry_counters k;
  ferry_codec_counters(rx, &k, sizeof k);
  EXPECT_EQ(0u, k.dropped[FERRY_DROP_INVALID]);  // nothing was fed
  size_t empty = 0;  // an empty datagram needs no bytes: it is fed, and dropped as invalid
  EXPECT_EQ(1, ferry_codec_decode_datagrams(rx, nullptr, &empty, 1, &taken, out, sizeof out, &ev, 1,
                                            sizeof ev));
  EXPECT_EQ(FERRY_DROP_INVALID, ev.reason);
}
