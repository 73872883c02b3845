// ferrycat broker -> the real ferryd -> ferrycat peer over the simulated module's air side, and
// back, both ways at once: every message must come out of ferrycat's own output whole, once and
// in order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include "bench/cBench.h"
#include "bench/cBenchSteps.h"
#include "bench/soak/cSoak.h"
#include "tests/common/freeUdpPort.h"
#include "tests/ferrycat/cCatRun.h"

namespace {

const int kRunMs = 600 * 1000;  // emulated ARM builds are slow; a hang still ends here
// Messages the peer may have ahead of the broker's output. The daemon sends north as fast as the
// serial line delivers and UDP has no flow control: a real line's speed paces it, the
// pseudo-terminal does not, so the test does what the line would.
const long kWindow = 32;

std::string hexLine(const std::vector<uint8_t>& message) {
  return cCatRun::hex(message) + '\n';
}

std::string hexLines(const std::vector<std::vector<uint8_t>>& messages) {
  std::string out;
  for (const std::vector<uint8_t>& m : messages) out += hexLine(m);
  return out;
}

// Lines written to a file so far, read as the file grows.
class cLineCount {
 public:
  explicit cLineCount(const std::string& path) : mIn(path, std::ios::binary), mLines(0) {}
  long now() {
    char buffer[65536];
    mIn.clear();
    while (mIn.read(buffer, sizeof buffer) || mIn.gcount() > 0)
      mLines += std::count(buffer, buffer + mIn.gcount(), '\n');
    return mLines;
  }

 private:
  std::ifstream mIn;
  long mLines;
};

int hexValue(char c) {
  return c <= '9' ? c - '0' : c - 'a' + 10;
}

// The payload of one line of ferrycat's JSON output ("hex" or "text"); false when the line is
// not one.
bool payloadOf(const std::string& line, std::vector<uint8_t>* out) {
  out->clear();
  size_t at = line.find("\"hex\":\"");
  if (at != std::string::npos) {
    for (size_t i = at + 7; i + 1 < line.size() && line[i] != '"'; i += 2)
      out->push_back(static_cast<uint8_t>(hexValue(line[i]) << 4 | hexValue(line[i + 1])));
    return true;
  }
  at = line.find("\"text\":\"");
  if (at == std::string::npos) return false;
  for (size_t i = at + 8; i < line.size() && line[i] != '"'; ++i) {
    char c = line[i];
    if (c == '\\') {
      c = line[++i];
      if (c == 't') c = '\t';
      if (c == 'u') {
        c = static_cast<char>(hexValue(line[i + 3]) << 4 | hexValue(line[i + 4]));
        i += 4;
      }
    }
    out->push_back(static_cast<uint8_t>(c));
  }
  return true;
}

// How many of the expected messages the output holds whole and in order, from the first; the
// output's length in messages in *lines.
size_t matching(const std::string& output, const std::vector<std::vector<uint8_t>>& expected,
                size_t* lines) {
  std::istringstream in(output);
  std::string line;
  size_t good = 0;
  bool inOrder = true;
  *lines = 0;
  std::vector<uint8_t> payload;
  while (std::getline(in, line)) {
    ++*lines;
    inOrder =
        inOrder && good < expected.size() && payloadOf(line, &payload) && payload == expected[good];
    if (inOrder) ++good;
  }
  return good;
}

std::vector<std::vector<uint8_t>> messages(int direction, long count) {
  std::vector<std::vector<uint8_t>> out;
  for (long i = 0; i < count; ++i) out.push_back(cSoak::message(11, direction, i, 10000));
  return out;
}

// The daemon cuts its segments at daemonSegSize, ferrycat peer at peerSegSize.
void relayBothWays(int daemonSegSize, int peerSegSize, long count) {
  cBenchOptions o;
  o.speed = 20;  // only the module's set-up at start waits on the daemon's clock
  o.logLevel = "INFO";
  o.simBroker = false;
  o.brokerPort = freeUdpPort();
  o.segSize = daemonSegSize;
  o.keys = {{"ferryd.stats.interval", "1"}};  // the daemon's drops, should any message be lost
  cBench bench(o);
  std::string air = bench.module().enableAir();
  ASSERT_TRUE(cBenchSteps::startInBypass(bench));

  std::vector<std::vector<uint8_t>> south = messages(0, count), north = messages(1, count);
  std::string n = std::to_string(count);
  cCatRun peer(
      {"peer", air, "-s", std::to_string(peerSegSize), "-x", "-o", "json", "-n", n, "-t", "60"},
      "");
  ASSERT_TRUE(peer.waitForStderr("open at", 30000)) << peer.err();
  cCatRun broker({"broker", "-c", bench.configPath(), "-x", "-o", "json", "-n", n, "-t", "60"}, "");
  ASSERT_TRUE(broker.waitForStderr("ferryd is connected", 30000)) << broker.err();

  double start = cBench::now();
  std::thread toPeer([&] {
    broker.input(hexLines(south));
    broker.closeInput();
  });
  std::thread toBroker([&] {
    cLineCount received(broker.outPath());
    double stalled = cBench::now() + 60;
    for (long i = 0; i < count && cBench::now() < stalled; ++i) {
      while (received.now() + kWindow < i && cBench::now() < stalled) usleep(1000);
      stalled = cBench::now() + 60;
      peer.input(hexLine(north[static_cast<size_t>(i)]));
    }
    peer.closeInput();
  });
  int brokerStatus = broker.wait(kRunMs);
  int peerStatus = peer.wait(kRunMs);
  toPeer.join();
  toBroker.join();
  printf("%ld messages each way (daemon segments %d, peer segments %d) in %.1f s\n", count,
         daemonSegSize, peerSegSize, cBench::now() - start);

  size_t lines = 0;
  EXPECT_EQ(south.size(), matching(peer.out(), south, &lines)) << peer.err();
  EXPECT_EQ(south.size(), lines);
  EXPECT_EQ(north.size(), matching(broker.out(), north, &lines)) << broker.err();
  EXPECT_EQ(north.size(), lines);
  EXPECT_EQ(0, brokerStatus) << broker.err();
  EXPECT_EQ(0, peerStatus) << peer.err();
  EXPECT_NE(std::string::npos, broker.err().find("sent messages=" + n)) << broker.err();
  EXPECT_NE(std::string::npos, peer.err().find("sent messages=" + n)) << peer.err();
  EXPECT_TRUE(bench.running()) << bench.daemonOutput();
  std::vector<cBenchLog::cLine> counters = bench.log().matching("Counters:");
  if (::testing::Test::HasFailure() && !counters.empty())
    printf("the daemon's %s\n", counters.back().message.c_str());
}

TEST(FerrycatRelay, BothWaysAtOnceDaemonSegments256PeerSegments1021) {
  relayBothWays(256, 1021, 1000);
}

TEST(FerrycatRelay, BothWaysAtOnceDaemonSegments1021PeerSegments256) {
  relayBothWays(1021, 256, 1000);
}

}  // namespace
