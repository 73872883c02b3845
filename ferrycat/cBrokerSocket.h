#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// The broker's end of the north link: a UDP socket bound where the daemon sends (its
// "zam.broker.host" and "zam.broker.port"), exchanging one serialised segment per datagram.
//
// The daemon's socket is connected to this address and the daemon never sends first when the
// broker is quiet, so the broker finds it to send first: from the last datagram received, or as
// the UDP socket in /proc/net/udp whose remote end is this address (a daemon on the same host).
// A daemon at one of this host's addresses that has no such socket any more has gone (UDP says
// nothing when datagrams go nowhere): daemonQueue() forgets it.
// Receiving runs on one thread; finding the daemon and sending may run on others.
class cBrokerSocket {
 public:
  static constexpr int kMaxDatagram = 1024;  // the largest segment the daemon sends or takes

  cBrokerSocket();
  ~cBrokerSocket();
  cBrokerSocket(const cBrokerSocket&) = delete;
  cBrokerSocket& operator=(const cBrokerSocket&) = delete;

  // Binds host (an IPv4 address or a name, resolved as the daemon resolves it) and port (0: one
  // the system picks), non-blocking. False with *why ("127.0.0.1:60010: Address already in use").
  bool open(const std::string& host, uint16_t port, std::string* why);
  void close();
  int fd() const { return mFd; }
  uint16_t port() const { return mPort; }
  // "127.0.0.1:60010"
  std::string address() const;

  // Receives one datagram (whole, up to size bytes) and learns the daemon's address from it;
  // -1 when none is waiting (errno set). *overflow: the kernel's count of datagrams it dropped
  // for this socket, its receive buffer full.
  ssize_t receive(uint8_t* buffer, size_t size, uint32_t* overflow);

  // True once the daemon's address is known; looks it up in /proc/net/udp when it is not.
  bool findDaemon();
  // 0 while no daemon is known.
  uint16_t daemonPort() const;
  // "127.0.0.1:41234", "" while no daemon is known.
  std::string daemonAddress() const;
  // Bytes waiting in the daemon's receive queue, from /proc/net/udp: a sender on the same host
  // keeps it short so the daemon never drops a datagram. The socket found becomes the daemon's
  // address (a restarted daemon has a new port). -1 when there is no daemon to send to: none is
  // known, or the one known was on this host and its socket is gone (it is forgotten). A daemon on
  // another host, known from its datagrams, cannot be looked up: 0.
  long daemonQueue();

  // The kernel's count of datagrams dropped for this socket, its receive buffer full, from
  // /proc/net/udp (-1 when not found). The count that comes with a datagram received is the one
  // when it was queued: drops after the last datagram show only here.
  long ownDrops() const;

  // Sends one datagram to the daemon; false when its address is not known or the send failed
  // (errno set).
  bool sendUnit(const uint8_t* data, size_t length);
  // Sends a whole message as segments of at most segSize bytes, one datagram each; the number of
  // datagrams sent, or -1 with errno set (EMSGSIZE: a message that cannot be cut; no daemon, a
  // failed send).
  int sendMessage(int id, const uint8_t* data, size_t length, int segSize = kMaxDatagram);

 private:
  struct cEntry {
    sockaddr_in local;
    long rxQueue;
  };
  // The daemon's socket in /proc/net/udp: bound elsewhere, connected to this address.
  bool lookup(cEntry* entry) const;

  int mFd;
  uint16_t mPort;
  sockaddr_in mAddr;
  mutable std::mutex mMutex;  // the daemon's address
  sockaddr_in mDaemon;
  bool mHaveDaemon;
  bool mDaemonLocal;  // at one of this host's addresses: its socket shows in /proc/net/udp
};
