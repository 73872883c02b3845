// Messages to the broker leave in gathered sends. sendmmsg is wrapped at link time (--wrap) to
// count the calls and to refuse chosen datagrams the way the kernel does: an error on the first
// datagram of a call fails the call with its errno; an error on a later one ends the call early
// with the count of those sent, and the reason is lost.
#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "north/cLocalMsg.h"
#include "support/YMsg.h"
#include "support/cProperties.h"
#include "support/cStats.h"
#include "tests/common/cLogCapture.h"

namespace {
std::atomic<int> gCalls{0};
std::atomic<unsigned> gAttempted{0};  // datagrams sent or refused so far, over all calls
std::set<unsigned> gRefuse;           // datagram numbers (over all calls) to refuse
}  // namespace

extern "C" int __real_sendmmsg(int, mmsghdr*, unsigned, int);
extern "C" int __wrap_sendmmsg(int fd, mmsghdr* vec, unsigned vlen, int flags) {
  ++gCalls;
  unsigned first = gAttempted;
  for (unsigned j = 0; j < vlen; ++j) {
    if (gRefuse.count(first + j) == 0) continue;
    int sent = j == 0 ? 0 : __real_sendmmsg(fd, vec, j, flags);
    gAttempted = first + j + 1;
    if (sent > 0) return sent;
    errno = ENOBUFS;
    return -1;
  }
  int sent = __real_sendmmsg(fd, vec, vlen, flags);
  if (sent > 0) gAttempted = first + static_cast<unsigned>(sent);
  return sent;
}

namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t n, int seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + seed);
  return b;
}

// The datagrams a message must leave as: its segments of at most 1024 bytes, serialised.
std::vector<Bytes> expectedDatagrams(int id, const Bytes& payload) {
  std::unique_ptr<YMsg> msg(YMsg::create(id, payload.data(), payload.size()));
  std::vector<Bytes> out;
  msg->segmentMessage(cLocalMsg::kMaxDatagram);
  msg->resetSegment();
  while (YMsg* seg = msg->getNextSegment()) {
    Bytes b(cLocalMsg::kMaxDatagram);
    b.resize(static_cast<size_t>(seg->getMsg(b.data(), cLocalMsg::kMaxDatagram)));
    out.push_back(b);
  }
  return out;
}

class NorthSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mBroker = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(mBroker, reinterpret_cast<sockaddr*>(&a), sizeof a));
    socklen_t len = sizeof a;
    getsockname(mBroker, reinterpret_cast<sockaddr*>(&a), &len);
    char path[] = "/tmp/ferryd-north-send-XXXXXX";
    int fd = mkstemp(path);
    std::string text =
        "zam.broker.host = 127.0.0.1\nzam.broker.port = " + std::to_string(ntohs(a.sin_port)) +
        "\n";
    ASSERT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
    close(fd);
    static cProperties props;
    props.load(path);
    unlink(path);
    cLocalMsg::create(&props);
    ASSERT_TRUE(mLog.waitFor("North link connected", 1, 5000));
  }
  void TearDown() override { close(mBroker); }

  // The next datagram at the broker, or an empty vector after a second without one.
  Bytes receive() {
    pollfd p = {mBroker, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1) return {};
    Bytes b(2048);
    ssize_t n = recv(mBroker, b.data(), b.size(), 0);
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b;
  }

  cLogCapture mLog;
  int mBroker = -1;
};

TEST_F(NorthSendTest, AMessageLeavesInFewCallsAsItsSegments) {
  struct Case {
    size_t size;
    int calls;
  } cases[] = {{0, 1},         {1000, 1},          {1019, 1},  {1020, 1},
               {16 * 1019, 1}, {16 * 1019 + 1, 2}, {40000, 3}, {65535, 5}};
  int id = 1;
  for (const Case& c : cases) {
    Bytes payload = pattern(c.size, id);
    int before = gCalls;
    cLocalMsg::sendNorth(YMsg::create(id, payload.data(), payload.size()));
    EXPECT_EQ(c.calls, gCalls - before) << c.size;
    for (const Bytes& want : expectedDatagrams(id, payload)) ASSERT_EQ(want, receive()) << c.size;
    ++id;
  }
  EXPECT_TRUE(receive().empty());
  EXPECT_EQ(sizeof cases / sizeof cases[0], cStats::get(cStats::kNorth, cStats::kMessages));
  EXPECT_EQ(0u, cStats::get(cStats::kNorth, cStats::kFailedWrites));
}

// A refused datagram is lost, said and counted; its message is not counted as relayed; the other
// datagrams still go, each once, and the next message is relayed as usual.
TEST_F(NorthSendTest, ARefusedDatagramIsDroppedAndReportedAndTheRestStillGo) {
  gRefuse = {2, 16};  // inside the first call, and the first of the second call
  Bytes payload = pattern(20 * 1019, 5);
  std::vector<Bytes> want = expectedDatagrams(5, payload);
  ASSERT_EQ(20u, want.size());
  cLocalMsg::sendNorth(YMsg::create(5, payload.data(), payload.size()));
  for (size_t k = 0; k < want.size(); ++k) {
    if (k == 2 || k == 16) continue;
    ASSERT_EQ(want[k], receive()) << "datagram " << k;
  }
  EXPECT_TRUE(receive().empty());
  EXPECT_EQ(1, mLog.count("North Tx Error -1: datagram 3 of 20 refused, no reason given"));
  EXPECT_EQ(1, mLog.count("North Tx Error -1 err(105)"));
  EXPECT_EQ("ERROR", mLog.matching("North Tx Error")[0].level);
  EXPECT_EQ(2u, cStats::get(cStats::kNorth, cStats::kFailedWrites));
  EXPECT_EQ(0u, cStats::get(cStats::kNorth, cStats::kMessages));

  Bytes next = pattern(3000, 6);
  cLocalMsg::sendNorth(YMsg::create(6, next.data(), next.size()));
  for (const Bytes& d : expectedDatagrams(6, next)) ASSERT_EQ(d, receive());
  EXPECT_EQ(1u, cStats::get(cStats::kNorth, cStats::kMessages));
  EXPECT_EQ(2u, cStats::get(cStats::kNorth, cStats::kFailedWrites));
}

}  // namespace
