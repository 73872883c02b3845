// The receive path driven directly, without a device or reader thread: each byte is handled in
// the mode in force when it arrives, whatever the cut of the stream into reads.
#include <gtest/gtest.h>

#include <memory>
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

// A status line is acted on while a command waits, and is not handed to the command; any other
// line goes to the command. With no command pending the same lines are parsed as status lines.
TEST(ModemModes, StatusLinesBypassThePendingCommand) {
  struct {
    const char* line;
    bool status;
    const char* logLine;  // logged when the line is parsed as a status line
  } rows[] = {
      {"AT-AB BondOk", true, "Bond Ok (pairing) URC"},
      {"AT-AB BDAddress 0016A4B1C2D3", true, "BDAddress URC"},
      {"  AT-AB   BondOk  ", true, "Bond Ok (pairing) URC"},
      {"AT-AB BondOkay", false, "Unknown URC BondOkay"},
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

}  // namespace
