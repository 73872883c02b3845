#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/cHDLC.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes frame(const cHDLC& h, const Bytes& payload) {
  Bytes out(2 + 2 * (payload.size() + 2));
  int n = 0;
  h.frameData(payload.data(), static_cast<int>(payload.size()), out.data(), &n);
  out.resize(n);
  return out;
}

// Feeds bytes one call each, with a fresh output buffer per call, and collects every payload.
// A call that completes nothing must leave the buffer and the length untouched.
std::vector<Bytes> feed(cHDLC& h, const Bytes& stream) {
  std::vector<Bytes> frames;
  for (unsigned char b : stream) {
    Bytes out(cHDLC::kMaxPayload, 0xCC);
    int n = -1;
    if (h.unFrameByte(b, out.data(), &n)) {
      EXPECT_GE(n, 0);
      frames.emplace_back(out.begin(), out.begin() + n);
    } else {
      EXPECT_EQ(-1, n);
      EXPECT_EQ(Bytes(8, 0xCC), Bytes(out.begin(), out.begin() + 8));
    }
  }
  return frames;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// The worked example of the wire-format document: escaped 'A' and flag, FCS 0xFE44 low byte first.
TEST(HdlcFraming, KnownFrameBytes) {
  cHDLC h;
  Bytes segment = {0x83, 0x00, 0x00, 0x05, 0x00, 0x4F, 0x4B, 0x20, 0x41, 0x7E};
  Bytes expected = {0x7E, 0x83, 0x00, 0x00, 0x05, 0x00, 0x4F, 0x4B,
                    0x20, 0x7D, 0x61, 0x7D, 0x5E, 0x44, 0xFE, 0x7E};
  EXPECT_EQ(expected, frame(h, segment));
  // FCS bytes are escaped like data: 0x60 has FCS 0x937E, 0x2A has 0x7E20, 0xF4 has 0x41D3.
  EXPECT_EQ((Bytes{0x7E, 0x60, 0x7D, 0x5E, 0x93, 0x7E}), frame(h, {0x60}));
  EXPECT_EQ((Bytes{0x7E, 0x2A, 0x20, 0x7D, 0x5E, 0x7E}), frame(h, {0x2A}));
  EXPECT_EQ((Bytes{0x7E, 0xF4, 0xD3, 0x7D, 0x61, 0x7E}), frame(h, {0xF4}));
  std::vector<Bytes> got = feed(h, concat({frame(h, {0x60}), frame(h, {0x2A}), frame(h, {0xF4})}));
  EXPECT_EQ((std::vector<Bytes>{{0x60}, {0x2A}, {0xF4}}), got);
}

// The decoder's own drop counts are checked against a model by the fuzz target; only a decoder
// that asks for it also counts in the daemon's counters.
TEST(HdlcFraming, OnlyADecoderThatAsksCountsDropsInTheDaemonsCounters) {
  Bytes badFcs = frame(cHDLC(), {1, 2, 3, 4});
  badFcs[2] ^= 0x01;
  Bytes stream = concat(
      {badFcs, frame(cHDLC(), Bytes(cHDLC::kMaxPayload + 1, 0x11)), {0x7E, 5, 6, 7, 0x7D, 0x7E}});
  cHDLC plain;
  EXPECT_TRUE(feed(plain, stream).empty());
  EXPECT_EQ(3u, plain.droppedFrames());
  EXPECT_EQ(0u, cStats::get(cStats::kNorth, cStats::kBadFcs));
  cHDLC counted;
  counted.countDropsIn(cStats::kNorth);
  feed(counted, stream);
  EXPECT_EQ(1u, cStats::get(cStats::kNorth, cStats::kBadFcs));
  EXPECT_EQ(1u, cStats::get(cStats::kNorth, cStats::kOversizeFrames));
  EXPECT_EQ(1u, cStats::get(cStats::kNorth, cStats::kAbortedFrames));
}

// The one-pass framer and the whole-read unframer against the per-byte reference (frameData,
// unFrameByte): the same bytes out, the same frames delivered, the same frames dropped, however
// the input is split.
struct Decoded {
  std::vector<Bytes> frames;
  std::vector<unsigned> dropped;  // per reason
  bool operator==(const Decoded& o) const { return frames == o.frames && dropped == o.dropped; }
};

std::vector<unsigned> drops(const cHDLC& h) {
  return {h.dropped(cHDLC::kBadFcs), h.dropped(cHDLC::kOversize), h.dropped(cHDLC::kAborted)};
}

Decoded referenceDecode(const Bytes& in) {
  cHDLC h;
  Decoded d;
  for (unsigned char b : in) {
    unsigned char out[cHDLC::kMaxPayload];
    int n = -1;
    if (h.unFrameByte(b, out, &n)) d.frames.emplace_back(out, out + n);
  }
  d.dropped = drops(h);
  return d;
}

void collect(void* context, const unsigned char* payload, int length) {
  static_cast<Decoded*>(context)->frames.emplace_back(payload, payload + length);
}

// Feeds in as reads of the given sizes (cycled), all through unFrame.
Decoded fastDecode(const Bytes& in, const std::vector<size_t>& reads) {
  cHDLC h;
  Decoded d;
  size_t at = 0;
  for (size_t r = 0; at < in.size(); ++r) {
    size_t n = std::min(reads[r % reads.size()], in.size() - at);
    int before = static_cast<int>(d.frames.size());
    int got = h.unFrame(in.data() + at, static_cast<int>(n), &collect, &d);
    EXPECT_EQ(got, static_cast<int>(d.frames.size()) - before);
    at += n;
  }
  d.dropped = drops(h);
  return d;
}

Bytes randomBytes(std::mt19937& rng, size_t n) {
  Bytes v(n);
  for (unsigned char& b : v) b = static_cast<unsigned char>(rng());
  return v;
}

// Payloads that stress the escaping: random, nothing but flags, escapes or 'A', every byte value.
std::vector<Bytes> payloads(std::mt19937& rng) {
  std::vector<Bytes> p = {
      {}, Bytes(1024, 0x7E), Bytes(1024, 0x7D), Bytes(1024, 'A'), Bytes(1, 0x7E), Bytes(3, 'A')};
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<unsigned char>(i);
  p.push_back(all);
  for (size_t n : {1u, 2u, 5u, 100u, 255u, 1021u, 1022u, 1024u}) p.push_back(randomBytes(rng, n));
  return p;
}

// A stream of good frames, noise between them, aborted frames, bad checksums, frames too long
// and runs of flags.
Bytes adversarialStream(std::mt19937& rng) {
  Bytes s = {'n', 'o', 'i', 's', 'e', 0x7D};
  for (const Bytes& p : payloads(rng)) {
    Bytes f = frame(cHDLC(), p);
    s.insert(s.end(), f.begin(), f.end());
  }
  Bytes bad = frame(cHDLC(), randomBytes(rng, 40));
  bad[10] ^= 0x01;  // checksum no longer matches
  s.insert(s.end(), bad.begin(), bad.end());
  s.insert(s.end(), {0x7E, 1, 2, 3, 0x7D, 0x7E});  // aborted
  Bytes tooLong = frame(cHDLC(), randomBytes(rng, 1030));
  s.insert(s.end(), tooLong.begin(), tooLong.end());
  s.insert(s.end(), 20, 0x7E);
  s.insert(s.end(), {0x7E, 0x55, 0x7E});  // one byte: shorter than a checksum
  Bytes tail = frame(cHDLC(), randomBytes(rng, 300));
  s.insert(s.end(), tail.begin(), tail.end() - 1);  // unfinished at the end
  return s;
}

TEST(FastFraming, OnePassFramerGivesTheReferenceBytes) {
  std::mt19937 rng(7);
  std::vector<Bytes> cases = payloads(rng);
  for (int i = 0; i < 300; ++i) cases.push_back(randomBytes(rng, rng() % 1025));
  for (const Bytes& p : cases) {
    Bytes out(static_cast<size_t>(cHDLC::maxFramed(static_cast<int>(p.size()))));
    int n = cHDLC::frame(p.data(), static_cast<int>(p.size()), out.data());
    out.resize(static_cast<size_t>(n));
    EXPECT_EQ(frame(cHDLC(), p), out) << "payload of " << p.size() << " bytes";
  }
}

TEST(FastFraming, WholeReadUnframerMatchesThePerByteDecoderHoweverSplit) {
  std::mt19937 rng(11);
  Bytes random = randomBytes(rng, 20000);
  Bytes withFlags = random;
  for (size_t i = 0; i < withFlags.size(); i += 1 + rng() % 300) withFlags[i] = 0x7E;
  const struct {
    const char* name;
    Bytes stream;
  } streams[] = {
      {"adversarial", adversarialStream(rng)},
      {"all flags", Bytes(5000, 0x7E)},
      {"all escapes", Bytes(5000, 0x7D)},
      {"all A", Bytes(5000, 'A')},
      {"escapes between flags",
       [] {
         Bytes b;
         for (int i = 0; i < 500; ++i) b.insert(b.end(), {0x7E, 0x7D, 0x7D, 0x7D});
         return b;
       }()},
      {"random", random},
      {"random with flags", withFlags},
  };
  const std::vector<std::vector<size_t>> splits = {
      {1u << 30}, {1}, {2}, {3}, {7, 1, 1024, 13}, {1024}, {17, 256, 5, 1, 900}};
  for (const auto& s : streams) {
    Decoded want = referenceDecode(s.stream);
    for (const auto& reads : splits) {
      EXPECT_TRUE(want == fastDecode(s.stream, reads))
          << s.name << ", first read size " << reads[0];
    }
  }
  // Random splits of the adversarial stream, frames across reads included.
  Bytes adv = adversarialStream(rng);
  Decoded want = referenceDecode(adv);
  EXPECT_GT(want.frames.size(), 10u);
  // bad checksum and shorter than a checksum; too long; aborted
  EXPECT_EQ(want.dropped, (std::vector<unsigned>{2, 1, 1}));
  for (int trial = 0; trial < 50; ++trial) {
    std::vector<size_t> reads;
    for (int i = 0; i < 40; ++i) reads.push_back(1 + rng() % 1500);
    EXPECT_TRUE(want == fastDecode(adv, reads)) << "trial " << trial;
  }
}

}  // namespace
