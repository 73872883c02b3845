// libferry's public decoding calls on any input: (1) ferry_codec_feed/next and the batched
// ferry_codec_decode (into an output buffer of a fuzzed size) give the same messages and drops,
// however the input is cut, and so does ferry_codec_decode_datagrams given every datagram at
// once, each message of a decode call in the caller's buffer; (2) the counters agree with the
// events; (3) every message is at most 65,535 bytes and comes back unchanged when encoded and
// decoded again.
// Input: byte 0 bit 0: datagram kind; byte 1: decode's output buffer size (x 512 bytes, +1);
// then pieces: serial [u8 length][bytes], datagram [u16 length][bytes].
#include <cstdint>
#include <vector>

#include "fuzz/cFuzzCheck.h"
#include "fuzz/cFuzzInput.h"
#include "libferry/ferry.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct cSeen {
  int type, reason, id;
  Bytes data;
  bool operator==(const cSeen& o) const {
    return type == o.type && reason == o.reason && id == o.id && data == o.data;
  }
};

cSeen seen(const ferry_event& e) {
  cSeen s{e.type, e.reason, e.id, {}};
  if (e.type == FERRY_EVENT_MESSAGE) s.data.assign(e.data, e.data + e.length);
  return s;
}

// An event of a decode call: a message in it lies in the caller's buffer.
cSeen seenIn(const ferry_event& e, const Bytes& buffer) {
  if (e.type == FERRY_EVENT_MESSAGE && e.length > 0) {
    FUZZ_CHECK(e.data >= buffer.data() && e.data + e.length <= buffer.data() + buffer.size());
  }
  return seen(e);
}

void feedNext(ferry_codec* c, const Bytes& piece, std::vector<cSeen>* out) {
  size_t at = 0;
  do {
    size_t used = 0;
    FUZZ_CHECK(ferry_codec_feed(c, piece.data() + at, piece.size() - at, &used) == 0);
    at += used;
    ferry_event e;
    bool any = false;
    while (ferry_codec_next(c, &e, sizeof e) == 1) {
      out->push_back(seen(e));
      any = true;
    }
    FUZZ_CHECK(used > 0 || any || piece.empty());  // progress on every call
  } while (at < piece.size());
}

// Decodes one piece (one datagram) in as many calls as it takes; later calls pass no new data.
void decodeBatched(ferry_codec* c, const Bytes& piece, size_t capacity, std::vector<cSeen>* out) {
  static Bytes buffer;
  buffer.resize(capacity);
  ferry_event events[4];
  const uint8_t* at = piece.data() != nullptr ? piece.data() : buffer.data();  // never NULL
  size_t left = piece.size();
  for (;;) {
    size_t used = 0;
    int n = ferry_codec_decode(c, at, left, &used, buffer.data(), buffer.size(), events, 4,
                               sizeof events[0]);
    FUZZ_CHECK(n >= 0 && n <= 4 && used <= left);
    for (int i = 0; i < n; ++i) out->push_back(seenIn(events[i], buffer));
    at = left > used ? at + used : nullptr;
    left -= used;
    if (n > 0) continue;
    ferry_event e;  // a message too large for the buffer waits for ferry_codec_next
    if (ferry_codec_next(c, &e, sizeof e) == 1) {
      out->push_back(seen(e));
      continue;
    }
    FUZZ_CHECK(left == 0);  // nothing came and nothing was left unread
    return;
  }
}

// Decodes every datagram with ferry_codec_decode_datagrams, calling again with the datagrams not
// yet taken; a message too large for the buffer waits for ferry_codec_next.
void decodeAllDatagrams(ferry_codec* c, const std::vector<Bytes>& all, size_t capacity,
                        std::vector<cSeen>* out) {
  Bytes data, buffer(capacity);
  std::vector<size_t> lengths;
  for (const Bytes& d : all) {
    data.insert(data.end(), d.begin(), d.end());
    lengths.push_back(d.size());
  }
  ferry_event events[4];
  size_t first = 0, at = 0;
  for (;;) {
    size_t left = lengths.size() - first, taken = left + 1;
    int n = ferry_codec_decode_datagrams(c, data.empty() ? nullptr : data.data() + at,
                                         lengths.data() + first, left, &taken, buffer.data(),
                                         buffer.size(), events, 4, sizeof events[0]);
    FUZZ_CHECK(n >= 0 && n <= 4 && taken <= left);
    for (int i = 0; i < n; ++i) out->push_back(seenIn(events[i], buffer));
    for (size_t i = 0; i < taken; ++i) at += lengths[first + i];
    first += taken;
    if (n > 0 || taken > 0) continue;
    ferry_event e;
    if (ferry_codec_next(c, &e, sizeof e) == 1) {
      out->push_back(seen(e));
      continue;
    }
    FUZZ_CHECK(first == lengths.size());  // nothing came and nothing was left unread
    return;
  }
}

void checkRoundTrip(const Bytes& m) {
  FUZZ_CHECK(m.size() <= FERRY_MESSAGE_MAX);
  ferry_codec* c = nullptr;
  FUZZ_CHECK(ferry_codec_new(FERRY_KIND_SERIAL, 6 + m.size() % 1016, &c) == 0);
  Bytes line(ferry_codec_encoded_size(c, m.size()));
  size_t n = 0;
  FUZZ_CHECK(ferry_codec_encode(c, m.data(), m.size(), 5, line.data(), line.size(), &n) == 5);
  line.resize(n);
  std::vector<cSeen> back;
  feedNext(c, line, &back);
  FUZZ_CHECK(back.size() == 1 && back[0].data == m && back[0].id == 5);
  ferry_codec_free(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cFuzzInput in(data, size);
  int kind = (in.u8() & 1) ? FERRY_KIND_DATAGRAM : FERRY_KIND_SERIAL;
  size_t capacity = in.u8() * 512u + 1;
  ferry_codec *a = nullptr, *b = nullptr;
  FUZZ_CHECK(ferry_codec_new(kind, 0, &a) == 0 && ferry_codec_new(kind, 0, &b) == 0);
  std::vector<cSeen> viaNext, viaDecode;
  std::vector<Bytes> pieces;
  while (!in.empty()) {
    pieces.push_back(in.bytes(kind == FERRY_KIND_SERIAL ? in.u8() : in.u16()));
    feedNext(a, pieces.back(), &viaNext);
    decodeBatched(b, pieces.back(), capacity, &viaDecode);
  }
  FUZZ_CHECK(viaNext == viaDecode);
  if (kind == FERRY_KIND_DATAGRAM) {
    ferry_codec* m = nullptr;
    FUZZ_CHECK(ferry_codec_new(kind, 0, &m) == 0);
    std::vector<cSeen> viaMany;
    decodeAllDatagrams(m, pieces, capacity, &viaMany);
    FUZZ_CHECK(viaNext == viaMany);
    ferry_codec_free(m);
  }
  ferry_counters k;
  ferry_codec_counters(a, &k, sizeof k);
  uint64_t messages = 0, drops = 0, dropped = 0;
  for (const cSeen& s : viaNext) {
    if (s.type == FERRY_EVENT_MESSAGE) {
      ++messages;
      checkRoundTrip(s.data);
    } else {
      ++drops;
    }
  }
  for (uint64_t d : k.dropped) dropped += d;
  FUZZ_CHECK(k.messages == messages && dropped == drops);
  ferry_codec_free(a);
  ferry_codec_free(b);
  return 0;
}
