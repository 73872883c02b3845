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

TEST(HdlcFraming, FcsVectorAndResidual) {
  const std::string check = "123456789";
  const auto* data = reinterpret_cast<const unsigned char*>(check.data());
  unsigned short fcs = static_cast<unsigned short>(~cHDLC::fcs16(data, 9));
  EXPECT_EQ(0x906E, fcs);

  Bytes withFcs(data, data + 9);
  withFcs.push_back(fcs & 0xFF);
  withFcs.push_back(fcs >> 8);
  EXPECT_EQ(cHDLC::kGoodResidual, cHDLC::fcs16(withFcs.data(), 11));

  // The FCS travels low byte first: the frame of "123456789" ends 6E 90 7E.
  cHDLC h;
  Bytes f = frame(h, Bytes(data, data + 9));
  ASSERT_EQ(13u, f.size());
  EXPECT_EQ(0x7E, f.front());
  EXPECT_EQ(0x6E, f[10]);
  EXPECT_EQ(0x90, f[11]);
  EXPECT_EQ(0x7E, f.back());
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

TEST(HdlcFraming, BadFramesAreDroppedAndCountedThenDecodingGoesOn) {
  cHDLC h;
  Bytes good = {10, 20, 30};
  Bytes fg = frame(h, good);

  Bytes badFcs = frame(h, {1, 2, 3, 4});
  badFcs[2] ^= 0x01;
  Bytes oversize = frame(h, Bytes(cHDLC::kMaxPayload + 1, 0x11));
  Bytes aborted = {0x7E, 5, 6, 7, 0x7D, 0x7E};
  Bytes tooShort = {0x7E, 0x33, 0x7E};

  // Each bad frame's closing flag (for the abort: its 0x7E) opens the good frame that follows.
  // Drops are counted by reason; a frame too short for its check sequence has a bad one.
  struct {
    const Bytes& bad;
    cHDLC::DropReason reason;
  } rows[] = {{badFcs, cHDLC::kBadFcs},
              {oversize, cHDLC::kOversize},
              {aborted, cHDLC::kAborted},
              {tooShort, cHDLC::kBadFcs}};
  size_t drops = 0;
  unsigned byReason[cHDLC::kReasons] = {};
  for (const auto& row : rows) {
    std::vector<Bytes> got = feed(h, concat({row.bad, Bytes(fg.begin() + 1, fg.end())}));
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ(good, got[0]);
    EXPECT_EQ(++drops, h.droppedFrames());
    ++byReason[row.reason];
    for (int r = 0; r < cHDLC::kReasons; ++r) {
      EXPECT_EQ(byReason[r], h.dropped(static_cast<cHDLC::DropReason>(r))) << r;
    }
  }
  // Only a decoder that asks for it counts in the daemon's counters.
  EXPECT_EQ(0u, cStats::get(cStats::kNorth, cStats::kBadFcs));
  cHDLC counted;
  counted.countDropsIn(cStats::kNorth);
  feed(counted, concat({badFcs, oversize, aborted}));
  EXPECT_EQ(1u, cStats::get(cStats::kNorth, cStats::kBadFcs));
  EXPECT_EQ(1u, cStats::get(cStats::kNorth, cStats::kOversizeFrames));
  EXPECT_EQ(1u, cStats::get(cStats::kNorth, cStats::kAbortedFrames));
}

TEST(HdlcFraming, ResetAndEncodingLeaveDecodingAlone) {
  cHDLC h;
  Bytes a(300), other = {0x41, 0x42};
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<unsigned char>(i * 7);
  Bytes fa = frame(h, a);
  size_t half = fa.size() / 2;
  EXPECT_TRUE(feed(h, Bytes(fa.begin(), fa.begin() + half)).empty());
  Bytes fo = frame(h, other);  // encoding in the middle of a frame
  std::vector<Bytes> got = feed(h, Bytes(fa.begin() + half, fa.end()));
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(a, got[0]);

  // reset forgets a half frame: its tail is noise until the next flag.
  EXPECT_TRUE(feed(h, Bytes(fa.begin(), fa.begin() + half)).empty());
  h.reset();
  got = feed(h, concat({Bytes(fa.begin() + half, fa.end() - 1), fo}));
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(other, got[0]);
  EXPECT_EQ(0u, h.droppedFrames());
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
