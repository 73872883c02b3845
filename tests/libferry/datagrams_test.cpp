// The datagram kind's calls that move several datagrams at once: they give what one datagram a
// call gives, stop at the caller's bounds without taking a part of anything, and refuse the
// serial kind and bad arguments.
#include <errno.h>

#include <cstring>

#include "tests/libferry/cCodecTest.h"

using namespace cCodecTest;

namespace {

using Datagrams = std::vector<std::vector<uint8_t>>;

// Messages cut at 16 bytes a segment, with an empty datagram and one over 1024 bytes among them.
Datagrams mixedDatagrams() {
  cCodecPtr tx(FERRY_KIND_DATAGRAM, 16);
  Datagrams all;
  for (size_t n : {size_t{0}, size_t{40}, size_t{3}, size_t{300}}) {
    std::vector<uint8_t> m = awkward(n, static_cast<unsigned>(n));
    ferry_codec_send(tx, m.data(), m.size(), FERRY_ID_AUTO);
    Datagrams out = takeOutput(tx);
    all.insert(all.end(), out.begin(), out.end());
    if (n == 3) all.emplace_back();                             // invalid: empty
    if (n == 40) all.push_back(std::vector<uint8_t>(1025, 0));  // invalid: over 1024
  }
  return all;
}

// Decodes every datagram with ferry_codec_decode_datagrams through buffers of the given sizes,
// calling again (with the datagrams not yet taken) until all are taken and nothing is pending.
cDecoded decodeBatched(ferry_codec* c, const Datagrams& all, size_t capacity, size_t maxEvents) {
  std::vector<uint8_t> data;
  std::vector<size_t> lengths;
  for (const auto& d : all) {
    data.insert(data.end(), d.begin(), d.end());
    lengths.push_back(d.size());
  }
  cDecoded got;
  std::vector<uint8_t> out(capacity);
  std::vector<ferry_event> events(maxEvents);
  size_t first = 0, at = 0;
  for (int calls = 0; calls < 1000; ++calls) {
    size_t taken = 99;
    int n = ferry_codec_decode_datagrams(c, data.data() + at, lengths.data() + first,
                                         lengths.size() - first, &taken, out.data(), out.size(),
                                         events.data(), events.size(), sizeof events[0]);
    EXPECT_GE(n, 0) << ferry_codec_error(c);
    for (int i = 0; i < n; ++i) {
      const ferry_event& e = events[i];
      if (e.type == FERRY_EVENT_MESSAGE && e.length > 0) {
        EXPECT_TRUE(e.data >= out.data() && e.data + e.length <= out.data() + out.size());
      }
      take(e, &got);
    }
    for (size_t i = 0; i < taken; ++i) at += lengths[first + i];
    first += taken;
    if (n == 0 && first == lengths.size()) return got;
  }
  ADD_FAILURE() << "no progress";
  return got;
}

}  // namespace

// The batch gives the events of one datagram a call, in order, with the empty and the oversize
// datagram dropped as invalid, whatever the room for events and messages (down to one event, and
// an out buffer that holds one 300-byte message and not two).
TEST(Datagrams, DecodeManyGivesWhatOneAtATimeGives) {
  Datagrams all = mixedDatagrams();
  cCodecPtr one(FERRY_KIND_DATAGRAM, 0);
  cDecoded expected = feedDatagrams(one, all);
  ASSERT_EQ(4u, expected.messages.size());
  ASSERT_EQ((std::vector<std::string>{"invalid", "invalid"}), expected.drops);
  for (size_t capacity : {size_t{300}, size_t{343}, size_t{65535}}) {
    for (size_t maxEvents : {size_t{1}, size_t{2}, size_t{64}}) {
      cCodecPtr rx(FERRY_KIND_DATAGRAM, 0);
      cDecoded got = decodeBatched(rx, all, capacity, maxEvents);
      EXPECT_EQ(expected.messages, got.messages) << capacity << " " << maxEvents;
      EXPECT_EQ(expected.ids, got.ids);
      EXPECT_EQ(expected.drops, got.drops);
      EXPECT_EQ(expected.dropLengths, got.dropLengths);
    }
  }
}

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
