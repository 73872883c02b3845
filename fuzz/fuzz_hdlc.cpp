// The serial-line framer: (1) any byte stream decodes exactly as the wire format's model says,
// with every dropped frame counted by reason and no write past the 1024-byte frame buffer; (2)
// frames of payloads built from the input decode back to the payload on the same cHDLC object while
// that object also encodes other payloads between the decoded bytes, behind any garbage.
#include <cstdint>
#include <vector>

#include "fuzz/cFuzzCheck.h"
#include "fuzz/cFuzzInput.h"
#include "fuzz/cRefUnframer.h"
#include "support/cHDLC.h"

namespace {

using Bytes = std::vector<unsigned char>;

size_t framedBound(size_t n) {
  return 2 + 2 * (n + 2);
}

// Decodes one byte on both the real decoder and the model; they must agree. True when the byte
// completed a frame, whose payload is then in *got.
bool decodeAndCompare(cHDLC& hdlc, cRefUnframer& ref, unsigned char byte, Bytes* got) {
  // Exactly the promised size, on the heap: ASan sees any write past it.
  static Bytes& out = *new Bytes(cHDLC::kMaxPayload);
  int outLen = -1;
  bool done = hdlc.unFrameByte(byte, out.data(), &outLen) != 0;
  Bytes expected;
  bool refDone = ref.feed(byte, expected);
  FUZZ_CHECK(done == refDone);
  FUZZ_CHECK(hdlc.dropped(cHDLC::kBadFcs) == ref.dropped(cRefUnframer::kBadFcs));
  FUZZ_CHECK(hdlc.dropped(cHDLC::kOversize) == ref.dropped(cRefUnframer::kOversize));
  FUZZ_CHECK(hdlc.dropped(cHDLC::kAborted) == ref.dropped(cRefUnframer::kAborted));
  if (!done) return false;
  FUZZ_CHECK(outLen >= 0 && outLen <= cHDLC::kMaxPayload);
  FUZZ_CHECK(Bytes(out.begin(), out.begin() + outLen) == expected);
  if (got != nullptr) got->assign(out.begin(), out.begin() + outLen);
  return true;
}

// Frames payload with hdlc and checks the frame's shape: flags at both ends only, no raw 'A'
// (so "AT-AB" cannot appear), within the buffer bound, the same as a fresh object's encoding.
Bytes frame(const cHDLC& hdlc, const Bytes& payload) {
  Bytes out(framedBound(payload.size()));
  int outLen = -1;
  hdlc.frameData(payload.data(), static_cast<int>(payload.size()), out.data(), &outLen);
  FUZZ_CHECK(outLen >= static_cast<int>(payload.size()) + 4);
  FUZZ_CHECK(static_cast<size_t>(outLen) <= out.size());
  out.resize(outLen);
  FUZZ_CHECK(out.front() == 0x7E && out.back() == 0x7E);
  for (size_t i = 1; i + 1 < out.size(); ++i) FUZZ_CHECK(out[i] != 0x7E && out[i] != 'A');
  cHDLC fresh;
  Bytes again(framedBound(payload.size()));
  int againLen = -1;
  fresh.frameData(payload.data(), static_cast<int>(payload.size()), again.data(), &againLen);
  FUZZ_CHECK(againLen == outLen);
  again.resize(againLen);
  FUZZ_CHECK(again == out);
  return out;
}

void streamDecode(const uint8_t* data, size_t size) {
  cHDLC hdlc;
  cRefUnframer ref;
  for (size_t i = 0; i < size; ++i) decodeAndCompare(hdlc, ref, data[i], nullptr);
}

// u8 kind: odd, u16 n and n bytes; even, u16 n, u8 k and a k-byte pattern repeated to n bytes
// (a long payload from a short pattern reaches the 1024-byte limit with little input).
Bytes makePayload(cFuzzInput& in) {
  if (in.u8() & 1) return in.bytes(in.range(0, 1030));
  size_t n = in.range(0, 1100);
  Bytes pattern = in.bytes(in.range(1, 8));
  if (pattern.empty()) pattern.push_back(0x7E);
  Bytes p(n);
  for (size_t i = 0; i < n; ++i) p[i] = pattern[i % pattern.size()];
  return p;
}

// Encodes other on the decoding object and checks that a separate decoder gets it back.
void encodeBetween(const cHDLC& hdlc, const Bytes& other) {
  Bytes framed = frame(hdlc, other);
  cHDLC peer;
  cRefUnframer ref;
  Bytes got;
  bool done = false;
  for (unsigned char b : framed) done = decodeAndCompare(peer, ref, b, &got);
  FUZZ_CHECK(done == (other.size() <= cHDLC::kMaxPayload));
  if (done) FUZZ_CHECK(got == other);
}

// The same input read as steps: u8 garbage length (0-16 bytes, fed first), u8 reset (reset on
// 0), a payload (makePayload), u8 count of encodings between decoded bytes and u16 position of
// each.
void roundTrips(cFuzzInput& in) {
  cHDLC hdlc;
  cRefUnframer ref;
  Bytes other = {'A', 'T', '-', 'A', 'B', 0x7D, 0x7E};
  for (int step = 0; step < 64 && !in.empty(); ++step) {
    Bytes garbage = in.bytes(in.u8() % 17);
    for (unsigned char b : garbage) decodeAndCompare(hdlc, ref, b, nullptr);
    if (in.u8() == 0) {
      hdlc.reset();
      ref.reset();
    }
    Bytes payload = makePayload(in);
    Bytes framed = frame(hdlc, payload);
    // Up to three encodings between decoded bytes, at positions the input picks.
    std::vector<size_t> encodeAt;
    for (int k = in.u8() % 4; k > 0; --k) encodeAt.push_back(in.range(0, framed.size() - 1));
    for (size_t i = 0; i < framed.size(); ++i) {
      for (size_t at : encodeAt)
        if (at == i) encodeBetween(hdlc, other);
      Bytes got;
      bool done = decodeAndCompare(hdlc, ref, framed[i], &got);
      // The opening flag may close what garbage left open; only the closing flag ends ours.
      if (i + 1 < framed.size()) {
        FUZZ_CHECK(i == 0 || !done);
      } else {
        FUZZ_CHECK(done == (payload.size() <= cHDLC::kMaxPayload));
        if (done) FUZZ_CHECK(got == payload);
      }
    }
    if (!payload.empty()) other.assign(payload.begin(), payload.begin() + (payload.size() + 1) / 2);
    if (other.size() > 64) other.resize(64);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzQuietLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  streamDecode(data, size);
  cFuzzInput in(data, size);
  roundTrips(in);
  return 0;
}
