#pragma once

#include <netinet/in.h>

#include <functional>

// The kernel's table of IPv4 UDP sockets (/proc/net/udp), read a line at a time. Addresses are
// as the kernel stores them (network order read as a host word), so they compare with s_addr.
// ferrycat's broker finds the daemon's connected socket in it, the check mode a bound broker.
class cUdpTable {
 public:
  struct cLine {
    unsigned localIp = 0, localPort = 0, remoteIp = 0, remotePort = 0, state = 0;
    unsigned long rxQueue = 0, drops = 0;
  };
  static constexpr unsigned kConnected = 1;    // the kernel's TCP_ESTABLISHED
  static constexpr unsigned kUnconnected = 7;  // TCP_CLOSE: bound only

  // Hands each line to take until it returns true; false when none did or the table is unread.
  static bool scan(const std::function<bool(const cLine&)>& take);

  // True when addr is one of this host's addresses: only such an address can be bound.
  static bool isLocal(in_addr addr);
};
