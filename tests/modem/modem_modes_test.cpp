// The receive path driven directly, without a device or reader thread: each byte is handled in
// the mode in force when it arrives, whatever the cut of the stream into reads.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "modem/cBTCmds.h"
#include "modem/cBTModem.h"
#include "support/YMsg.h"
#include "tests/common/cLogCapture.h"

namespace {

std::vector<unsigned char> segmentOf(int id, const std::string& text) {
  std::unique_ptr<YMsg> msg(YMsg::create(id, text.data(), text.size()));
  std::vector<unsigned char> out(YMsg::kHeaderSize + text.size());
  out.resize(msg->getMsg(out.data(), static_cast<unsigned short>(out.size())));
  return out;
}

std::string framed(int id, const std::string& text) {
  std::vector<unsigned char> seg = segmentOf(id, text);
  std::vector<unsigned char> out(cBTModem::kFrameBufSize);
  int n = 0;
  cHDLC().frameData(seg.data(), static_cast<int>(seg.size()), out.data(), &n);
  return std::string(out.begin(), out.begin() + n);
}

// A driver without device; records the frames it hands on and the lines it received.
struct cDriver {
  cLogCapture log;
  cBTModem modem{cBTModem::cNoDevice{}};
  std::vector<std::vector<unsigned char>> frames;
  bool frameOutsideBypass = false;  // a frame handed on while the driver was not in bypass mode

  cDriver() { modem.setFrameSink(&cDriver::addFrame, this); }
  static void addFrame(void* self, const unsigned char* data, int len) {
    auto* d = static_cast<cDriver*>(self);
    d->frames.emplace_back(data, data + len);
    d->frameOutsideBypass |= !d->modem.inBypass();
  }
  void feed(const std::string& bytes) {
    modem.onSerialBytes(reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int>(bytes.size()));
  }
  // Feeds bytes in reads of at most chunk bytes (0: all in one read).
  void feedInReads(const std::string& bytes, size_t chunk) {
    if (chunk == 0) chunk = bytes.size();
    for (size_t at = 0; at < bytes.size(); at += chunk) feed(bytes.substr(at, chunk));
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const auto& r : log.matching("Received: ")) out.push_back(r.message.substr(10));
    return out;
  }
  void enterBypass() {
    feed("AT-AB -BypassMode-\r\n");
    ASSERT_TRUE(modem.inBypass());
  }
};

// Peer data in the read that carries "-BypassMode-", status lines behind the escape in the same
// read, noise before the escape: every frame is unframed and every status line read whole.
TEST(ModemModes, ModeChangesTakeEffectAtTheirByte) {
  const std::string stream = "AT-AB -BypassMode-\r\n" + framed(1, "first") + "noise" +
                             "AT-AB ConnectionDown\r\nAT-AB -BypassMode-\r\n" +
                             framed(2, "second") + "AT-AB -CommandMode-\r\nAT-AB BondOk\r\n";
  const std::vector<std::string> lines = {"AT-AB -BypassMode-", "AT-AB ConnectionDown",
                                          "AT-AB -BypassMode-", "AT-AB -CommandMode-",
                                          "AT-AB BondOk"};
  auto check = [&](cDriver& d, const std::string& how) {
    EXPECT_EQ(lines, d.lines()) << how;
    ASSERT_EQ(2u, d.frames.size()) << how;
    EXPECT_EQ(segmentOf(1, "first"), d.frames[0]) << how;
    EXPECT_EQ(segmentOf(2, "second"), d.frames[1]) << how;
    EXPECT_EQ(2, d.log.count("Probably need to bail now")) << how;
    EXPECT_EQ(1, d.log.count("Connection Down URC")) << how;
    EXPECT_EQ(1, d.log.count("Bond Ok (pairing) URC")) << how;
    EXPECT_FALSE(d.modem.inBypass()) << how;
    EXPECT_FALSE(d.frameOutsideBypass) << how;
  };
  for (size_t chunk : {0, 1, 2, 3, 7}) {
    cDriver d;
    d.feedInReads(stream, chunk);
    check(d, "reads of " + std::to_string(chunk));
  }
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    cDriver d;
    d.feed(stream.substr(0, cut));
    d.feed(stream.substr(cut));
    check(d, "cut at " + std::to_string(cut));
  }
}

// What bypass mode carried before the escape, frames or noise, never reaches a line.
TEST(ModemModes, NoTextSurvivesAModeChange) {
  cDriver d;
  d.enterBypass();
  d.feed("xyz" + framed(3, "data") + "AT-AB BondOk\r\n");
  EXPECT_EQ((std::vector<std::string>{"AT-AB -BypassMode-", "AT-AB BondOk"}), d.lines());
  EXPECT_EQ(1u, d.frames.size());
  d.feed("AT-AB -BypassMode-\r\nxyz");
  EXPECT_TRUE(d.modem.inBypass());
  d.feed(framed(4, "x") + "\r\nAT-AB -CommandMode-\r\n");
  EXPECT_EQ("AT-AB -CommandMode-", d.lines().back());
  EXPECT_EQ(2u, d.frames.size());
  EXPECT_EQ(2, d.log.count("Probably need to bail now"));
}

// The escape is found wherever it starts, as a substring search finds it, and only whole.
TEST(ModemModes, EscapeFoundWhereverItStarts) {
  struct {
    const char* bytes;
    bool ends;
  } rows[] = {
      {"AT-AB", true},   {"AAT-AB", true},  {"AT-AAT-AB", true}, {"AT-AT-AB", true},
      {"ATAT-AB", true}, {"AT-AB", true},   {"xAT-AB", true},    {"AT-A-AB", false},
      {"AT-AX", false},  {"AT-BAB", false}, {"A T-AB", false},   {"at-ab", false},
  };
  for (const auto& row : rows) {
    for (size_t chunk : {0, 1}) {
      cDriver d;
      d.enterBypass();
      d.feedInReads(row.bytes, chunk);
      std::string how = std::string(row.bytes) + " in reads of " + std::to_string(chunk);
      EXPECT_EQ(!row.ends, d.modem.inBypass()) << how;
      ASSERT_EQ(row.ends ? 1 : 0, d.log.count("Probably need to bail now")) << how;
      if (row.ends) {
        EXPECT_EQ("INFO", d.log.matching("Probably need to bail now")[0].level);
        d.feed(" BondOk\r\n");
        EXPECT_EQ("AT-AB BondOk", d.lines().back()) << how;
        EXPECT_EQ(1, d.log.count("Bond Ok (pairing) URC")) << how;
      }
    }
  }
}

// The detector logs each byte it matches with its new position; a byte that breaks a partial
// match is tried again at the fall-back position.
TEST(ModemModes, EscapeDetectorStepsAreLogged) {
  const char* rows[][2] = {{"AT-AB", "12345"}, {"AAT-AB", "112345"}, {"AT-AT-AB", "12342345"}};
  for (const auto& row : rows) {
    cDriver d;
    d.enterBypass();
    d.feedInReads(row[0], 1);
    std::string steps;
    for (const auto& r : d.log.matching("mURCIdx ")) steps += r.message.substr(8);
    EXPECT_EQ(row[1], steps) << row[0];
  }
}

// A status line is acted on while a command waits, and is not handed to the command; any other
// line goes to the command. With no command pending the same lines are parsed as status lines.
TEST(ModemModes, StatusLinesBypassThePendingCommand) {
  struct {
    const char* line;
    bool status;
    const char* logLine;  // logged when the line is parsed as a status line
  } rows[] = {
      {"AT-AB BondOk", true, "Bond Ok (pairing) URC"},
      {"AT-AB -BypassMode-", true, "BypassMode Enabled URC"},
      {"AT-AB ConnectionDown", true, "Connection Down URC"},
      {"AT-AB BDAddress 0016A4B1C2D3", true, "BDAddress URC"},
      {"AT-AB -CommandMode-", true, "Command Mode URC"},
      {"  AT-AB   BondOk  ", true, "Bond Ok (pairing) URC"},
      {"AT-AB BondEnabled", false, "Unknown URC BondEnabled"},
      {"AT-AB BondOkay", false, "Unknown URC BondOkay"},
      {"AT-AB Busy", false, "Unknown URC Busy"},
      {"AT-ABX BondOk", false, nullptr},
      {"OK", false, nullptr},
      {"", false, nullptr},
  };
  for (const auto& row : rows) {
    for (bool pending : {true, false}) {
      cDriver d;
      cBTCmdEnableBond cmd;
      if (pending) d.modem.setPending(&cmd);
      d.feed(std::string(row.line) + "\r\n");
      std::string how = std::string("\"") + row.line + (pending ? "\" pending" : "\" idle");
      bool toCommand = pending && !row.status;
      EXPECT_EQ(toCommand ? 1 : 0, d.log.count("cmdH: ")) << how;
      bool parsed = row.logLine != nullptr && !toCommand;
      if (row.logLine != nullptr) {
        EXPECT_EQ(parsed ? 1 : 0, d.log.count(row.logLine)) << how;
      }
      bool urc = row.status || (!pending && row.logLine != nullptr);
      EXPECT_EQ(urc ? 1 : 0, d.log.count("Definitely URC")) << how;
      d.modem.setPending(nullptr);
    }
  }
}

// The bypass-mode receive path (whole reads unframed at once, the escape detector run only from
// an 'A' on) against a byte-by-byte model of it: per byte, unFrameByte first, then the escape
// detector with its fall-back. Same frames, handed on in the same order, and bypass mode ends at
// the same byte, on random and 'A'-heavy streams cut into reads anywhere.
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
      std::string f = framed(static_cast<int>(rng() % 128), text);
      s.insert(s.end(), f.begin(), f.end());
    } else {
      std::string n = kNoise[rng() % (sizeof kNoise / sizeof kNoise[0])];
      s.insert(s.end(), n.begin(), n.end());
    }
    if (withEscape && part == 50) s.insert(s.end(), {'A', 'A', 'T', '-', 'A', 'T', '-', 'A', 'B'});
  }
  return s;
}

TEST(ModemFastReceive, SameFramesAndSameEscapeByteAsTheByteByByteModel) {
  std::mt19937 rng(2024);
  int escapes = 0;
  for (int trial = 0; trial < 60; ++trial) {
    Bytes stream = randomStream(rng, trial % 3 == 0);
    std::vector<Bytes> want;
    long stop = modelRun(stream, &want);
    escapes += stop >= 0 ? 1 : 0;
    cDriver d;
    d.enterBypass();
    // Fed up to and including the escape's last byte (what follows it is command-mode text).
    size_t end = stop >= 0 ? static_cast<size_t>(stop) + 1 : stream.size();
    for (size_t at = 0; at < end;) {
      size_t n = std::min<size_t>(trial % 4 == 0 ? 1 : 1 + rng() % 700, end - at);
      ASSERT_TRUE(d.modem.inBypass()) << "trial " << trial << ": bypass mode ended early";
      d.modem.onSerialBytes(stream.data() + at, static_cast<int>(n));
      at += n;
    }
    EXPECT_EQ(stop < 0, d.modem.inBypass()) << "trial " << trial;
    EXPECT_EQ(want, d.frames) << "trial " << trial;
  }
  EXPECT_GT(escapes, 10);  // the streams do hold escapes, mostly those planted
}

}  // namespace
