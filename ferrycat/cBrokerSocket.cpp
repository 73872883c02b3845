#include "ferrycat/cBrokerSocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "ferrycat/cCatWire.h"
#include "support/cUdpTable.h"

namespace {

std::string addressText(const sockaddr_in& addr) {
  char ip[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip);
  return std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
}

bool sameAddress(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

}  // namespace

cBrokerSocket::cBrokerSocket()
    : mFd(-1), mPort(0), mAddr(), mDaemon(), mHaveDaemon(false), mDaemonLocal(false) {}

cBrokerSocket::~cBrokerSocket() {
  close();
}

void cBrokerSocket::close() {
  if (mFd >= 0) ::close(mFd);
  mFd = -1;
}

std::string cBrokerSocket::address() const {
  return addressText(mAddr);
}

bool cBrokerSocket::open(const std::string& host, uint16_t port, std::string* why) {
  close();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    *why = host + ": " + (rc == EAI_SYSTEM ? strerror(errno) : gai_strerror(rc));
    return false;
  }
  mAddr = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
  freeaddrinfo(found);
  mAddr.sin_port = htons(port);
  mPort = port;
  mFd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (mFd < 0) {
    *why = std::string("socket: ") + strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(mFd, SOL_SOCKET, SO_RXQ_OVFL, &one, sizeof one);
  // The daemon sends as fast as its serial line delivers, with nothing to slow it down: room for
  // a few seconds of a lagging reader (beyond the system's limit where the user may).
  int big = 4 << 20;
  if (setsockopt(mFd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
    setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  if (bind(mFd, reinterpret_cast<sockaddr*>(&mAddr), sizeof mAddr) != 0) {
    *why = address() + ": " + strerror(errno);
    close();
    return false;
  }
  socklen_t len = sizeof mAddr;
  getsockname(mFd, reinterpret_cast<sockaddr*>(&mAddr), &len);
  mPort = ntohs(mAddr.sin_port);
  return true;
}

ssize_t cBrokerSocket::receive(uint8_t* buffer, size_t size, uint32_t* overflow) {
  sockaddr_in from{};
  iovec iov = {buffer, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint32_t))];
  msghdr msg{};
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n = recvmsg(mFd, &msg, 0);
  if (n < 0) return n;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
      memcpy(overflow, CMSG_DATA(c), sizeof *overflow);
  }
  std::lock_guard<std::mutex> lock(mMutex);
  if (!mHaveDaemon || !sameAddress(from, mDaemon)) mDaemonLocal = cUdpTable::isLocal(from.sin_addr);
  mDaemon = from;
  mHaveDaemon = true;
  return n;
}

bool cBrokerSocket::lookup(cEntry* entry) const {
  bool anyAddress = mAddr.sin_addr.s_addr == htonl(INADDR_ANY);
  return cUdpTable::scan([&](const cUdpTable::cLine& u) {
    if (u.remotePort != mPort || u.state != cUdpTable::kConnected ||
        (!anyAddress && u.remoteIp != mAddr.sin_addr.s_addr))
      return false;
    entry->local = sockaddr_in{};
    entry->local.sin_family = AF_INET;
    entry->local.sin_addr.s_addr = u.localIp;
    entry->local.sin_port = htons(static_cast<uint16_t>(u.localPort));
    entry->rxQueue = static_cast<long>(u.rxQueue);
    return true;
  });
}

long cBrokerSocket::ownDrops() const {
  unsigned long drops = 0;
  bool found = cUdpTable::scan([&](const cUdpTable::cLine& u) {
    if (u.localPort != mPort || u.localIp != mAddr.sin_addr.s_addr ||
        u.state == cUdpTable::kConnected)
      return false;
    drops = u.drops;
    return true;
  });
  return found ? static_cast<long>(drops) : -1;
}

bool cBrokerSocket::findDaemon() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mHaveDaemon) return true;
  }
  cEntry entry;
  if (!lookup(&entry)) return false;
  std::lock_guard<std::mutex> lock(mMutex);
  mDaemon = entry.local;
  mHaveDaemon = true;
  mDaemonLocal = true;
  return true;
}

uint16_t cBrokerSocket::daemonPort() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mHaveDaemon ? ntohs(mDaemon.sin_port) : 0;
}

std::string cBrokerSocket::daemonAddress() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mHaveDaemon ? addressText(mDaemon) : std::string();
}

// The connected socket found is the daemon now (it may have been restarted on another port).
long cBrokerSocket::daemonQueue() {
  cEntry entry;
  bool found = lookup(&entry);
  std::lock_guard<std::mutex> lock(mMutex);
  if (found) {
    mDaemon = entry.local;
    mHaveDaemon = true;
    mDaemonLocal = true;
    return entry.rxQueue;
  }
  if (mHaveDaemon && mDaemonLocal) mHaveDaemon = false;  // gone: what is sent there is lost
  return mHaveDaemon ? 0 : -1;
}

bool cBrokerSocket::sendUnit(const uint8_t* data, size_t length) {
  sockaddr_in to;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    if (!mHaveDaemon) {
      errno = ENOTCONN;
      return false;
    }
    to = mDaemon;
  }
  // The socket does not block; a full send buffer is waited out for a while.
  for (int waits = 0;;) {
    ssize_t n = sendto(mFd, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n == static_cast<ssize_t>(length)) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waits++ < 100) {
      pollfd pfd{mFd, POLLOUT, 0};
      poll(&pfd, 1, 10);
      continue;
    }
    return false;
  }
}

int cBrokerSocket::sendMessage(int id, const uint8_t* data, size_t length, int segSize) {
  std::vector<std::vector<uint8_t>> units;
  if (segSize > kMaxDatagram || !cCatWire::segments(id, data, length, segSize, &units)) {
    errno = EMSGSIZE;
    return -1;
  }
  for (const std::vector<uint8_t>& unit : units) {
    if (!sendUnit(unit.data(), unit.size())) return -1;
  }
  return static_cast<int>(units.size());
}
