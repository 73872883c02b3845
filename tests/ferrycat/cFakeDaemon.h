#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "support/cUdpTable.h"

// A UDP socket on loopback connected to the broker's port, as the daemon's is.
class cFakeDaemon {
 public:
  explicit cFakeDaemon(uint16_t brokerPort) : mFd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(mFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    addr.sin_port = htons(brokerPort);
    connect(mFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  }
  ~cFakeDaemon() { close(mFd); }
  cFakeDaemon(const cFakeDaemon&) = delete;
  cFakeDaemon& operator=(const cFakeDaemon&) = delete;

  uint16_t port() const {
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    getsockname(mFd, reinterpret_cast<sockaddr*>(&addr), &length);
    return ntohs(addr.sin_port);
  }
  // The receive queue of the UDP socket bound to port (this one's, the broker's), from
  // /proc/net/udp; -1 when there is none.
  static long queueOf(uint16_t port) {
    long queue = -1;
    cUdpTable::scan([&](const cUdpTable::cLine& u) {
      if (u.localPort == port) queue = static_cast<long>(u.rxQueue);
      return u.localPort == port;
    });
    return queue;
  }
  void send(const std::vector<uint8_t>& bytes) { ::send(mFd, bytes.data(), bytes.size(), 0); }
  // Every datagram that arrives within ms of the last one.
  std::vector<std::vector<uint8_t>> receive(int ms) {
    std::vector<std::vector<uint8_t>> got;
    uint8_t buffer[2048];
    pollfd pfd{mFd, POLLIN, 0};
    while (poll(&pfd, 1, ms) > 0) {
      ssize_t n = recv(mFd, buffer, sizeof buffer, 0);
      if (n >= 0) got.emplace_back(buffer, buffer + n);
    }
    return got;
  }

 private:
  int mFd;
};
