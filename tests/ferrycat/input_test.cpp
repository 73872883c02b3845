// What a user meets when something is wrong: usage errors, devices, ports and files that cannot
// be had, refused messages, garbage on the line, signals and a closed pipe. Each runs the real
// ferrycat binary; the daemon's side is played by a pseudo-terminal or a UDP socket here.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "ferrycat/cCatWire.h"
#include "support/cHDLC.h"
#include "tests/common/cTempDir.h"
#include "tests/common/freeUdpPort.h"
#include "tests/ferrycat/cCatRun.h"
#include "tests/ferrycat/cFakeDaemon.h"

namespace {

struct cCase {
  std::vector<std::string> args;
  std::string says;
};

// A file of the test's own folder.
std::string writeFile(const std::string& name, const std::string& text) {
  static const std::string dir = cCatRun::tempDir();
  return cCatRun::writeFile(dir + "/" + name, text);
}

// A pseudo-terminal whose slave ferrycat peer opens; the test is the daemon on the master.
class cLine {
 public:
  cLine() {
    char name[128];
    openpty(&mMaster, &mSlave, name, nullptr, nullptr);
    mPath = name;
  }
  ~cLine() {
    close(mMaster);
    close(mSlave);
  }
  const std::string& path() const { return mPath; }
  void write(const std::string& bytes) { (void)!::write(mMaster, bytes.data(), bytes.size()); }
  // Bytes ferrycat wrote within ms.
  std::string read(int ms) {
    std::string got;
    char buffer[4096];
    pollfd pfd{mMaster, POLLIN, 0};
    while (poll(&pfd, 1, ms) > 0) {
      ssize_t n = ::read(mMaster, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

 private:
  int mMaster = -1;
  int mSlave = -1;
  std::string mPath;
};

TEST(FerrycatInput, UsageErrorsExitTwoWithOneLineAndDoNothing) {
  const cCase cases[] = {
      {{}, "Usage: ferrycat COMMAND"},
      {{"bogus"}, "ferrycat: unknown command 'bogus'"},
      {{"peer"}, "ferrycat peer: no DEVICE given"},
      {{"peer", "-s", "1022", "/dev/null"}, "ferrycat peer: bad segment size '1022' (6 to 1021)"},
      {{"peer", "-b", "12345", "/dev/null"}, "ferrycat peer: bad speed '12345'"},
      {{"peer", "/dev/null", "extra"}, "ferrycat peer: unexpected argument 'extra'"},
      {{"broker", "--port", "0"}, "ferrycat broker: bad port '0' (1 to 65535)"},
      {{"broker", "-s", "1025"}, "ferrycat broker: bad segment size '1025' (6 to 1024)"},
      {{"broker", "-o", "xml"}, "ferrycat broker: unknown output format 'xml'"},
      {{"broker", "--nope"}, "ferrycat broker: unknown option '--nope'"},
      {{"broker", "-n"}, "ferrycat broker: option '-n' needs a value"},
      {{"broker", "-t", "0"}, "ferrycat broker: bad time-out '0'"},
      {{"encode", "-i", "128"}, "ferrycat encode: bad message id '128' (0 to 127)"},
  };
  for (const cCase& c : cases) {
    std::string out, err;
    EXPECT_EQ(2, cCatRun::run(c.args, &out, &err)) << c.says;
    EXPECT_EQ(0u, err.find(c.says)) << err;
    EXPECT_EQ("", out) << c.says;
  }
}

TEST(FerrycatInput, RunTimeFailuresSayWhatAndWhyInOneLine) {
  uint16_t port = freeUdpPort();
  int taken = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  ASSERT_EQ(0, bind(taken, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  std::string dir = cCatRun::tempDir();
  std::string inUse = "127.0.0.1:" + std::to_string(port);
  const cCase cases[] = {
      {{"peer", "/nonexistent/rfcomm0"},
       "ferrycat: /nonexistent/rfcomm0: No such file or directory"},
      {{"peer", "/dev/null"}, "ferrycat: /dev/null: not a tty"},
      {{"broker", "-c", dir}, "ferrycat: " + dir + ": Is a directory"},
      {{"broker", "--host", "127.0.0.1", "--port", std::to_string(port)},
       "ferrycat: " + inUse + ": Address already in use"},
  };
  for (const cCase& c : cases) {
    std::string out, err;
    EXPECT_EQ(1, cCatRun::run(c.args, &out, &err)) << c.says;
    EXPECT_EQ(c.says + "\n", err);
  }
  close(taken);
  rmdir(dir.c_str());

  cLine line;  // a second peer on a line one holds
  cCatRun first({"peer", line.path()}, "");
  ASSERT_TRUE(first.waitForStderr("open at", 10000)) << first.err();
  std::string err;
  EXPECT_EQ(1, cCatRun::run({"peer", line.path()}, nullptr, &err));
  EXPECT_EQ(0u, err.find("ferrycat: " + line.path() + ": ")) << err;
  EXPECT_NE(std::string::npos, err.find("busy")) << err;
}

// Whatever is refused goes out in no part; the messages around it do.
TEST(FerrycatInput, RefusedMessagesNeverGoOutAndTheOthersDo) {
  uint16_t port = freeUdpPort();
  cFakeDaemon daemon(port);
  std::string tooLong(2 * 65536, 'a');
  std::string input = "00ff\nzz\n" + tooLong + "\n0\n41 42\n";
  std::string err;
  std::vector<std::string> broker = {"broker", "--port", std::to_string(port), "-x", "-n", "0"};
  EXPECT_EQ(1, cCatRun::run(broker, nullptr, &err, writeFile("hex", input)));
  EXPECT_NE(std::string::npos, err.find("ferrycat: standard input line 2: bad hex: 'z'")) << err;
  EXPECT_NE(std::string::npos,
            err.find("ferrycat: standard input line 3: more than 65535 bytes: message refused"))
      << err;
  EXPECT_NE(std::string::npos, err.find("line 4: bad hex: an odd number of digits")) << err;
  EXPECT_NE(std::string::npos, err.find("sent messages=2 bytes=4 failed-send=0 refused=3")) << err;
  std::vector<std::vector<uint8_t>> got = daemon.receive(300);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ((std::vector<uint8_t>{0x80, 0, 0, 2, 0, 0x00, 0xFF}), got[0]);
  EXPECT_EQ((std::vector<uint8_t>{0x81, 0, 0, 2, 0, 'A', 'B'}), got[1]);

  // Files are all read and checked before anything is sent.
  std::string big = writeFile("big", std::string(65536, 'b'));
  std::string small = writeFile("small", "fine");
  broker = {"broker", "--port", std::to_string(port), "-n", "0", "-f", small, "-f", big};
  EXPECT_EQ(1, cCatRun::run(broker, nullptr, &err));
  EXPECT_NE(std::string::npos, err.find("ferrycat: " + big + ": more than 65535 bytes")) << err;
  EXPECT_TRUE(daemon.receive(300).empty());
  cLine line;
  EXPECT_EQ(1, cCatRun::run({"peer", line.path(), "-f", small, "-f", big}, nullptr, &err));
  EXPECT_EQ("", line.read(300));
}

// Noise, a frame with a bad check sequence, a frame that is not a segment, a message whose
// start was lost: each is counted by its reason and the message after them arrives, framed by
// ferrycat encode.
TEST(FerrycatInput, GarbageOnTheLineIsCountedByReasonAndTheNextMessageArrives) {
  cLine line;
  cCatRun peer({"peer", line.path(), "-n", "1", "-o", "json", "-t", "20"});
  ASSERT_TRUE(peer.waitForStderr("open at", 10000)) << peer.err();
  std::string bad;
  cCatWire::frames(1, reinterpret_cast<const uint8_t*>("hello"), 5, 256, &bad);
  bad[bad.size() - 3] ^= 1;                 // the check sequence no longer matches
  std::vector<std::vector<uint8_t>> units;  // the second segment of a message
  cCatWire::segments(2, reinterpret_cast<const uint8_t*>(std::string(600, 'x').data()), 600, 256,
                     &units);
  unsigned char orphan[cHDLC::maxFramed(256)];
  int orphanLength = cHDLC::frame(units[1].data(), static_cast<int>(units[1].size()), orphan);
  unsigned char notASegment[16];
  int n = cHDLC::frame(reinterpret_cast<const unsigned char*>("xy"), 2, notASegment);
  std::string encoded;
  ASSERT_EQ(0, cCatRun::run({"encode", "-x", "-i", "5"}, &encoded, nullptr,
                            writeFile("good", "41542d41427e7d00\n")));
  line.write("noise\r\nAT\x7e\x7e" + bad + std::string(reinterpret_cast<char*>(notASegment), n) +
             std::string(reinterpret_cast<char*>(orphan), orphanLength) + encoded);
  EXPECT_EQ(0, peer.wait(20000)) << peer.err();
  EXPECT_EQ("{\"seq\":1,\"id\":5,\"length\":8,\"hex\":\"41542d41427e7d00\"}\n", peer.out());
  EXPECT_NE(std::string::npos,
            peer.err().find("received messages=1 bytes=8 invalid=1 stale=0 lost-start=1 "
                            "out-of-order=0 oversize=0 bad-fcs=1 "))
      << peer.err();
}

// The broker's side of the same: an empty datagram, one that is not a segment, a segment whose
// start was lost, a message dropped for a newer one and one whose segments came out of order are
// each counted by reason and said with -v; the message after them arrives.
TEST(FerrycatInput, GarbageFromTheDaemonIsCountedByReasonAndTheNextMessageArrives) {
  uint16_t port = freeUdpPort();
  cFakeDaemon daemon(port);
  cCatRun broker({"broker", "--port", std::to_string(port), "-n", "1", "-o", "json", "-v"});
  ASSERT_TRUE(broker.waitForStderr("connected from port", 10000)) << broker.err();
  std::string x(600, 'x');
  std::vector<std::vector<uint8_t>> three, four;  // three segments each
  cCatWire::segments(3, reinterpret_cast<const uint8_t*>(x.data()), x.size(), 256, &three);
  cCatWire::segments(4, reinterpret_cast<const uint8_t*>(x.data()), x.size(), 256, &four);
  for (const std::vector<uint8_t>& d :
       {std::vector<uint8_t>{}, std::vector<uint8_t>{'x', 'y'}, three[1], three[0], four[0],
        four[2], std::vector<uint8_t>{0x85, 0, 0, 2, 0, 'h', 'i'}})
    daemon.send(d);
  EXPECT_EQ(0, broker.wait(20000)) << broker.err();
  EXPECT_EQ("{\"seq\":1,\"id\":5,\"length\":2,\"text\":\"hi\"}\n", broker.out());
  EXPECT_NE(std::string::npos,
            broker.err().find("received messages=1 bytes=2 invalid=2 stale=1 lost-start=1 "
                              "out-of-order=1 oversize=0 overflow=0 out-of-memory=0"))
      << broker.err();
  EXPECT_NE(std::string::npos, broker.err().find("From ferryd: 0 bytes dropped (invalid)"))
      << broker.err();
  EXPECT_NE(std::string::npos, broker.err().find("From ferryd: partial message 3 of " +
                                                 std::to_string(three[0].size() - 5) +
                                                 " bytes dropped, a new one started (stale)"))
      << broker.err();
  EXPECT_NE(std::string::npos,
            broker.err().find(std::to_string(four[2].size()) + " bytes dropped (out-of-order)"))
      << broker.err();
}

TEST(FerrycatInput, SignalsEndWithTheSummaryAndAClosedPipeQuietly) {
  for (int sig : {SIGINT, SIGTERM}) {
    uint16_t port = freeUdpPort();
    cCatRun broker({"broker", "--port", std::to_string(port)}, "");
    ASSERT_TRUE(broker.waitForStderr("listening on", 10000)) << broker.err();
    broker.signal(sig);
    EXPECT_EQ(0, broker.wait(10000)) << sig;
    EXPECT_NE(std::string::npos, broker.err().find("ferrycat: sent messages=0 ")) << broker.err();
  }
  uint16_t port = freeUdpPort();
  cFakeDaemon daemon(port);
  cCatRun broker({"broker", "--port", std::to_string(port), "-q"}, "", true);
  usleep(300 * 1000);
  daemon.send({0x80, 0, 0, 2, 0, 'h', 'i'});
  int status = broker.wait(10000);
  EXPECT_EQ(128 + SIGPIPE, status);
  EXPECT_EQ("", broker.err());
}

// Neither a reader that stops reading standard output nor a FIFO with no writer holds a signal
// up: the run ends with the summary, and what was received but could not be written is said.
TEST(FerrycatInput, SignalsEndTheRunWhileItWaitsOnAFullPipeOrASilentFifo) {
  uint16_t port = freeUdpPort();
  cFakeDaemon daemon(port);
  cCatRun full({"broker", "--port", std::to_string(port)}, "-", false, true);
  ASSERT_TRUE(full.waitForStderr("connected from port", 10000)) << full.err();
  std::vector<uint8_t> datagram(5 + 1000, 'm');
  datagram[1] = datagram[2] = 0;  // the first segment
  datagram[3] = 1000 & 0xFF;
  datagram[4] = 1000 >> 8;
  for (int i = 0; i < 300; ++i) {  // 300 KB of output for a pipe of 64 KB
    datagram[0] = static_cast<uint8_t>(0x80 | (i & 0x7F));
    daemon.send(datagram);
  }
  for (int waited = 0; waited < 10000 && cFakeDaemon::queueOf(port) != 0; waited += 10)
    usleep(10 * 1000);
  EXPECT_EQ(0, cFakeDaemon::queueOf(port)) << "the broker stopped reading";
  full.signal(SIGTERM);
  EXPECT_EQ(1, full.wait(5000));
  EXPECT_NE(std::string::npos, full.err().find("received messages=300 ")) << full.err();
  EXPECT_NE(std::string::npos, full.err().find(" received not written: its reader did not read"))
      << full.err();

  cTempDir dir;
  std::string fifo = dir.path + "/fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  cLine line;
  cCatRun broker({"broker", "--port", std::to_string(freeUdpPort()), "-f", fifo});
  cCatRun peer({"peer", line.path(), "-f", fifo});
  ASSERT_TRUE(broker.waitForStderr("listening on", 10000)) << broker.err();
  ASSERT_TRUE(peer.waitForStderr("open at", 10000)) << peer.err();
  usleep(100 * 1000);
  broker.signal(SIGINT);
  peer.signal(SIGTERM);
  EXPECT_EQ(0, broker.wait(5000));
  EXPECT_EQ(0, peer.wait(5000));
  EXPECT_NE(std::string::npos, broker.err().find("ferrycat: sent messages=0 ")) << broker.err();
  EXPECT_NE(std::string::npos, peer.err().find("ferrycat: sent messages=0 ")) << peer.err();
}

}  // namespace
