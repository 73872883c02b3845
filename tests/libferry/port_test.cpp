// The blocking port over real descriptors: a stream socket pair, a datagram socket pair, a pipe
// and a pseudo-terminal.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "tests/libferry/cCodecTest.h"

using cCodecTest::awkward;

namespace {

struct cPortPtr {
  ferry_port* p = nullptr;
  cPortPtr(int kind, int segmentSize) { EXPECT_EQ(0, ferry_port_new(kind, segmentSize, &p)); }
  ~cPortPtr() { ferry_port_free(p); }
  operator ferry_port*() const { return p; }
};

struct cPair {
  int fd[2];
  explicit cPair(int type) { EXPECT_EQ(0, socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fd)); }
  ~cPair() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
};

std::vector<uint8_t> recvMessage(ferry_port* p, int timeoutMs, int* id) {
  const uint8_t* data = nullptr;
  size_t length = 0;
  *id = ferry_port_recv(p, &data, &length, timeoutMs);
  return *id < 0 ? std::vector<uint8_t>() : std::vector<uint8_t>(data, data + length);
}

// Both ways at once over a stream socket with a small send buffer: the sender's partial writes
// go on until every byte is out; a message of 65,535 bytes among small ones arrives whole.
TEST(Port, StreamCarriesMessagesBothWays) {
  cPair s(SOCK_STREAM);
  int small = 4096;
  setsockopt(s.fd[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  cPortPtr a(FERRY_KIND_SERIAL, 0), b(FERRY_KIND_SERIAL, 0);
  ASSERT_EQ(0, ferry_port_adopt(a, s.fd[0]));
  ASSERT_EQ(0, ferry_port_adopt(b, s.fd[1]));
  const std::vector<size_t> sizes = {1, 65535, 0, 300};
  std::thread sender([&] {
    for (size_t i = 0; i < sizes.size(); ++i) {
      std::vector<uint8_t> m = awkward(sizes[i], unsigned(i));
      EXPECT_EQ(int(i), ferry_port_send(a, m.data(), m.size(), FERRY_ID_AUTO, 20000));
    }
  });
  for (size_t i = 0; i < sizes.size(); ++i) {
    int id;
    EXPECT_EQ(awkward(sizes[i], unsigned(i)), recvMessage(b, 20000, &id));
    EXPECT_EQ(int(i), id) << ferry_port_error(b);
  }
  sender.join();
  ASSERT_EQ(0, ferry_port_send(b, "back", 4, 0, 1000));
  int id;
  EXPECT_EQ(std::vector<uint8_t>({'b', 'a', 'c', 'k'}), recvMessage(a, 1000, &id));
}

// Nothing comes: -ETIMEDOUT; the other end closes: -EPIPE; garbage on the line is counted, not
// delivered.
TEST(Port, TimesOutAndSeesTheEnd) {
  cPair s(SOCK_STREAM);
  cPortPtr b(FERRY_KIND_SERIAL, 0);
  ASSERT_EQ(0, ferry_port_adopt(b, s.fd[1]));
  int id;
  recvMessage(b, 50, &id);
  EXPECT_EQ(-ETIMEDOUT, id);
  EXPECT_NE(nullptr, strstr(ferry_port_error(b), "time-out"));
  const char junk[] =
      "\x7e"
      "AT-AB\r\n"
      "\x7e\x01\x02\x7e";
  ASSERT_EQ(ssize_t(sizeof junk - 1), write(s.fd[0], junk, sizeof junk - 1));
  close(s.fd[0]);
  s.fd[0] = -1;
  recvMessage(b, 1000, &id);
  EXPECT_EQ(-EPIPE, id);
  ferry_counters k;
  ferry_codec_counters(ferry_port_codec(b), &k, sizeof k);
  EXPECT_EQ(2u, k.dropped[FERRY_DROP_BAD_FCS]);
  EXPECT_EQ(0u, k.messages);
}

// One segment a datagram; a datagram longer than any segment is dropped as invalid, however
// long it is.
TEST(Port, DatagramsOnAConnectedSocket) {
  cPair s(SOCK_DGRAM);
  cPortPtr a(FERRY_KIND_DATAGRAM, 100), b(FERRY_KIND_DATAGRAM, 0);
  ASSERT_EQ(0, ferry_port_adopt(a, s.fd[0]));
  ASSERT_EQ(0, ferry_port_adopt(b, s.fd[1]));
  std::vector<uint8_t> m = awkward(1000);
  ASSERT_EQ(5, ferry_port_send(a, m.data(), m.size(), 5, 1000));
  int id;
  EXPECT_EQ(m, recvMessage(b, 1000, &id));
  std::vector<uint8_t> huge(70000, 0);
  huge[3] = 0xFB;  // 5 + 65531: a read cut to 65536 bytes would look like a valid segment
  huge[4] = 0xFF;
  ASSERT_EQ(ssize_t(huge.size()), send(s.fd[0], huge.data(), huge.size(), 0));
  recvMessage(b, 100, &id);  // the kernel's buffer takes one such datagram at a time
  EXPECT_EQ(-ETIMEDOUT, id);
  ferry_counters k;
  ferry_codec_counters(ferry_port_codec(b), &k, sizeof k);
  EXPECT_EQ(1u, k.dropped[FERRY_DROP_INVALID]);
  ASSERT_EQ(6, ferry_port_send(a, "x", 1, 6, 1000));
  EXPECT_EQ(std::vector<uint8_t>{'x'}, recvMessage(b, 1000, &id));
}

// A tty is opened exclusively; a second open of the same line is refused, as are a file that is
// not a tty, an unknown speed and a port already closed. (Messages over a tty the port opened
// raw: the echo peer's test.)
TEST(Port, OpensATtyExclusively) {
  int master, slave;
  char name[128];
  ASSERT_EQ(0, openpty(&master, &slave, name, nullptr, nullptr));
  cPortPtr p(FERRY_KIND_SERIAL, 0), q(FERRY_KIND_SERIAL, 0), r(FERRY_KIND_SERIAL, 0);
  ASSERT_EQ(0, ferry_port_open(p, name, 115200)) << ferry_port_error(p);
  EXPECT_GT(0, ferry_port_open(q, name, 115200));
  EXPECT_NE(nullptr, strstr(ferry_port_error(q), name));
  int id;
  EXPECT_EQ(-EINVAL, ferry_port_open(r, name, 12345));
  EXPECT_NE(nullptr, strstr(ferry_port_error(r), "12345"));
  EXPECT_GT(0, ferry_port_open(r, "/dev/null", 115200));
  EXPECT_NE(nullptr, strstr(ferry_port_error(r), "not a tty"));

  ASSERT_EQ(0, ferry_port_close(p));
  EXPECT_EQ(-EBADF, ferry_port_send(p, "x", 1, FERRY_ID_AUTO, 0));
  EXPECT_EQ(-EBADF, recvMessage(p, 0, &id).size() == 0 ? id : 0);
  EXPECT_EQ(0, ferry_port_open(q, name, 115200)) << "closing released the line";
  close(slave);
  close(master);
}

// A write that fails reports the system's error; the message stays queued, not half sent.
TEST(Port, AFailingDescriptorIsReported) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  close(fds[0]);
  signal(SIGPIPE, SIG_IGN);
  cPortPtr p(FERRY_KIND_SERIAL, 0);
  ASSERT_EQ(0, ferry_port_adopt(p, fds[1]));
  EXPECT_EQ(-EPIPE, ferry_port_send(p, "x", 1, FERRY_ID_AUTO, 1000));
  EXPECT_NE(nullptr, strstr(ferry_port_error(p), "write"));
  close(fds[1]);
  cPortPtr none(FERRY_KIND_SERIAL, 0);
  EXPECT_EQ(-EBADF, ferry_port_adopt(none, 9999));
  EXPECT_EQ(-EBADF, ferry_port_send(none, "x", 1, FERRY_ID_AUTO, 0));
  EXPECT_EQ(-EINVAL, ferry_port_send(nullptr, "x", 1, FERRY_ID_AUTO, 0));
}

}  // namespace
