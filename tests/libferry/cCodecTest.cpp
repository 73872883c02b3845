#include "tests/libferry/cCodecTest.h"

namespace cCodecTest {

cCodecPtr::cCodecPtr(int kind, int segmentSize) {
  int rc = ferry_codec_new(kind, segmentSize, &c);
  if (rc != 0) ADD_FAILURE() << "ferry_codec_new: " << ferry_strerror(rc);
}

namespace {

void take(const ferry_event& ev, cDecoded* out) {
  if (ev.type == FERRY_EVENT_MESSAGE) {
    out->messages.emplace_back(ev.data, ev.data + ev.length);
    out->ids.push_back(ev.id);
  } else if (ev.type == FERRY_EVENT_SEGMENT) {
    out->segments.push_back(ev.length);
    out->segmentIds.push_back(ev.id);
  } else {
    out->drops.push_back(ferry_drop_name(ev.reason));
    out->dropIds.push_back(ev.id);
    out->dropLengths.push_back(ev.length);
  }
}

void takeEvents(ferry_codec* c, cDecoded* out) {
  ferry_event ev;
  while (ferry_codec_next(c, &ev, sizeof ev) == 1) take(ev, out);
}

}  // namespace

cDecoded feedStream(ferry_codec* c, const std::vector<uint8_t>& bytes, size_t piece) {
  cDecoded out;
  for (size_t at = 0; at < bytes.size();) {
    size_t end = std::min(bytes.size(), at + piece);
    while (at < end) {
      size_t used = 0;
      EXPECT_EQ(0, ferry_codec_feed(c, bytes.data() + at, end - at, &used));
      at += used;
      takeEvents(c, &out);
    }
  }
  return out;
}

cDecoded feedDatagrams(ferry_codec* c, const std::vector<std::vector<uint8_t>>& datagrams) {
  cDecoded out;
  for (const std::vector<uint8_t>& d : datagrams) {
    size_t used = 0;
    EXPECT_EQ(0, ferry_codec_feed(c, d.data(), d.size(), &used));
    EXPECT_EQ(d.size(), used);
    takeEvents(c, &out);
  }
  return out;
}

std::vector<std::vector<uint8_t>> takeOutput(ferry_codec* c) {
  std::vector<std::vector<uint8_t>> out;
  const uint8_t* data;
  size_t length;
  while (ferry_codec_output(c, &data, &length) == 0 && length > 0) {
    out.emplace_back(data, data + length);
    EXPECT_EQ(0, ferry_codec_consume(c, length));
  }
  return out;
}

std::vector<uint8_t> awkward(size_t n, unsigned seed) {
  static const uint8_t kSpecial[] = {'A', 0x7E, 0x7D, 'T', '-', 'B', 0x20, 0x5E, 0x5D, 0x00};
  std::vector<uint8_t> m(n);
  unsigned x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    m[i] =
        (x >> 16) % 3 == 0 ? kSpecial[(x >> 20) % sizeof kSpecial] : static_cast<uint8_t>(x >> 8);
  }
  return m;
}

}  // namespace cCodecTest
