#pragma once

#include <netinet/in.h>

#include <string>

struct cCheckContext;

// The broker part: the host resolves to an IPv4 address as the daemon resolves it; when the
// address is this board's, whether a UDP socket is bound to the port yet (/proc/net/udp).
namespace cCheckBroker {

// The daemon's lookup (gethostbyname2, IPv4); false when the host does not resolve.
bool resolve(const std::string& host, in_addr* addr);

void run(cCheckContext& c);

}  // namespace cCheckBroker
