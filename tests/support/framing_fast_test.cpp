// The one-pass framer and the whole-read unframer against the per-byte reference (frameData,
// unFrameByte): the same bytes out, the same frames delivered, the same frames dropped, however
// the input is split.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/cHDLC.h"

namespace {

using Bytes = std::vector<uint8_t>;

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
  for (uint8_t b : in) {
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

Bytes frameRef(const Bytes& p) {
  Bytes out(static_cast<size_t>(cHDLC::maxFramed(static_cast<int>(p.size()))));
  int n = 0;
  cHDLC().frameData(p.data(), static_cast<int>(p.size()), out.data(), &n);
  out.resize(static_cast<size_t>(n));
  return out;
}

Bytes randomBytes(std::mt19937& rng, size_t n) {
  Bytes v(n);
  for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Payloads that stress the escaping: random, nothing but flags, escapes or 'A', every byte value.
std::vector<Bytes> payloads(std::mt19937& rng) {
  std::vector<Bytes> p = {
      {}, Bytes(1024, 0x7E), Bytes(1024, 0x7D), Bytes(1024, 'A'), Bytes(1, 0x7E), Bytes(3, 'A')};
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  p.push_back(all);
  for (size_t n : {1u, 2u, 5u, 100u, 255u, 1021u, 1022u, 1024u}) p.push_back(randomBytes(rng, n));
  return p;
}

// A stream of good frames, noise between them, aborted frames, bad checksums, frames too long
// and runs of flags.
Bytes adversarialStream(std::mt19937& rng) {
  Bytes s = {'n', 'o', 'i', 's', 'e', 0x7D};
  for (const Bytes& p : payloads(rng)) {
    Bytes f = frameRef(p);
    s.insert(s.end(), f.begin(), f.end());
  }
  Bytes bad = frameRef(randomBytes(rng, 40));
  bad[10] ^= 0x01;  // checksum no longer matches
  s.insert(s.end(), bad.begin(), bad.end());
  s.insert(s.end(), {0x7E, 1, 2, 3, 0x7D, 0x7E});  // aborted
  Bytes tooLong = frameRef(randomBytes(rng, 1030));
  s.insert(s.end(), tooLong.begin(), tooLong.end());
  s.insert(s.end(), 20, 0x7E);
  s.insert(s.end(), {0x7E, 0x55, 0x7E});  // one byte: shorter than a checksum
  Bytes tail = frameRef(randomBytes(rng, 300));
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
    EXPECT_EQ(frameRef(p), out) << "payload of " << p.size() << " bytes";
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

// The two decoders share their state: a frame begun by one is finished by the other.
TEST(FastFraming, DecodersTakeOverFromEachOtherMidFrame) {
  std::mt19937 rng(3);
  Bytes stream = adversarialStream(rng);
  Decoded want = referenceDecode(stream);
  cHDLC h;
  Decoded got;
  size_t at = 0;
  for (bool fast = true; at < stream.size(); fast = !fast) {
    size_t n = std::min<size_t>(1 + rng() % 700, stream.size() - at);
    if (fast) {
      h.unFrame(stream.data() + at, static_cast<int>(n), &collect, &got);
    } else {
      for (size_t i = at; i < at + n; ++i) {
        unsigned char out[cHDLC::kMaxPayload];
        int len = 0;
        if (h.unFrameByte(stream[i], out, &len)) got.frames.emplace_back(out, out + len);
      }
    }
    at += n;
  }
  got.dropped = drops(h);
  EXPECT_TRUE(want == got);
}

}  // namespace
