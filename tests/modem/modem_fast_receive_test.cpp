// The bypass-mode receive path (whole reads unframed at once, the escape detector run only from
// an 'A' on) against a byte-by-byte model of it: per byte, unFrameByte first, then the escape
// detector with its fall-back. Same frames, handed on in the same order, and bypass mode ends at
// the same byte, on random and 'A'-heavy streams cut into reads anywhere.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "modem/cBTModem.h"
#include "support/YMsg.h"
#include "tests/common/cLogCapture.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The byte-by-byte model. Returns the index of the byte that ends bypass mode, or -1.
long modelRun(const Bytes& s, std::vector<Bytes>* frames) {
  static const char kEscape[] = "AT-AB";
  static const int kFallback[5] = {0, 0, 0, 0, 1};
  cHDLC h;
  int idx = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char out[cHDLC::kMaxPayload];
    int n = 0;
    if (h.unFrameByte(s[i], out, &n)) frames->emplace_back(out, out + n);
    for (;;) {
      if (s[i] == static_cast<unsigned char>(kEscape[idx])) {
        if (++idx == 5) return static_cast<long>(i);
        break;
      }
      if (idx == 0) break;
      idx = kFallback[idx];
    }
  }
  return -1;
}

Bytes frameOf(const std::string& text, int id) {
  std::unique_ptr<YMsg> msg(YMsg::create(id, text.data(), text.size()));
  Bytes seg(YMsg::kHeaderSize + text.size());
  seg.resize(msg->getMsg(seg.data(), static_cast<unsigned short>(seg.size())));
  Bytes out(cBTModem::kFrameBufSize);
  out.resize(cHDLC::frame(seg.data(), static_cast<int>(seg.size()), out.data()));
  return out;
}

// Frames and noise full of near-escapes; LF and CR stay out, so text after the escape builds no
// line.
Bytes randomStream(std::mt19937& rng, bool withEscape) {
  static const char* const kNoise[] = {"A",    "AT", "AT-", "AT-A", "AAT-A", "AT-AT-", "ATA",
                                       "T-AB", "~",  "}",   "}~",   "A~A",   "xyz"};
  Bytes s;
  for (int part = 0; part < 60; ++part) {
    if (rng() % 2) {
      std::string text(rng() % 300, 'A');
      for (char& c : text) c = "AT-B~}\x7E\x7D q"[rng() % 10];
      Bytes f = frameOf(text, static_cast<int>(rng() % 128));
      s.insert(s.end(), f.begin(), f.end());
    } else {
      std::string n = kNoise[rng() % (sizeof kNoise / sizeof kNoise[0])];
      s.insert(s.end(), n.begin(), n.end());
    }
    if (withEscape && part == 50) s.insert(s.end(), {'A', 'A', 'T', '-', 'A', 'T', '-', 'A', 'B'});
  }
  return s;
}

struct cDriver {
  cLogCapture log;
  cBTModem modem{cBTModem::cNoDevice{}};
  std::vector<Bytes> frames;
  cDriver() { modem.setFrameSink(&cDriver::add, this); }
  static void add(void* self, const unsigned char* data, int len) {
    static_cast<cDriver*>(self)->frames.emplace_back(data, data + len);
  }
  void feed(const Bytes& b, size_t at, size_t n) {
    modem.onSerialBytes(b.data() + at, static_cast<int>(n));
  }
};

TEST(ModemFastReceive, SameFramesAndSameEscapeByteAsTheByteByByteModel) {
  std::mt19937 rng(2024);
  int escapes = 0;
  for (int trial = 0; trial < 60; ++trial) {
    Bytes stream = randomStream(rng, trial % 3 == 0);
    std::vector<Bytes> want;
    long stop = modelRun(stream, &want);
    escapes += stop >= 0 ? 1 : 0;
    cDriver d;
    const std::string enter = "AT-AB -BypassMode-\r\n";
    d.modem.onSerialBytes(reinterpret_cast<const unsigned char*>(enter.data()),
                          static_cast<int>(enter.size()));
    ASSERT_TRUE(d.modem.inBypass());
    // Fed up to and including the escape's last byte (what follows it is command-mode text).
    size_t end = stop >= 0 ? static_cast<size_t>(stop) + 1 : stream.size();
    for (size_t at = 0; at < end;) {
      size_t n = std::min<size_t>(trial % 4 == 0 ? 1 : 1 + rng() % 700, end - at);
      ASSERT_TRUE(d.modem.inBypass()) << "trial " << trial << ": bypass mode ended early";
      d.feed(stream, at, n);
      at += n;
    }
    EXPECT_EQ(stop < 0, d.modem.inBypass()) << "trial " << trial;
    EXPECT_EQ(want, d.frames) << "trial " << trial;
  }
  EXPECT_GT(escapes, 10);  // the streams do hold escapes, mostly those planted
}

}  // namespace
