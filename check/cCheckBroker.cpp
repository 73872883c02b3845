#include "check/cCheckBroker.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>

#include <cstdio>
#include <cstring>

#include "check/cCheckContext.h"

namespace {

const char* const kPart = "broker";

bool isLocal(in_addr addr) {
  if ((ntohl(addr.s_addr) >> 24) == 127) return true;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool local = false;
  for (ifaddrs* i = list; i != nullptr && !local; i = i->ifa_next) {
    if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET) {
      local = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == addr.s_addr;
    }
  }
  freeifaddrs(list);
  return local;
}

// A socket bound to the port on addr or on every address, not connected (state 07), in
// /proc/net/udp (addresses as the kernel stores them: network order read as a hex word).
bool portBound(in_addr addr, int port) {
  FILE* udp = fopen("/proc/net/udp", "re");
  if (udp == nullptr) return false;
  char line[512];
  bool bound = false;
  if (fgets(line, sizeof line, udp) == nullptr) line[0] = '\0';  // the header
  while (!bound && fgets(line, sizeof line, udp) != nullptr) {
    unsigned ip = 0, lport = 0, state = 0;
    if (sscanf(line, " %*d: %8X:%4X %*8X:%*4X %2X", &ip, &lport, &state) != 3) continue;
    bound = static_cast<int>(lport) == port && state == 7 && (ip == 0 || ip == addr.s_addr);
  }
  fclose(udp);
  return bound;
}

}  // namespace

bool cCheckBroker::resolve(const std::string& host, in_addr* addr) {
  hostent* he = gethostbyname2(host.c_str(), AF_INET);
  if (he == nullptr || he->h_addr_list[0] == nullptr || he->h_length != sizeof *addr) return false;
  memcpy(addr, he->h_addr_list[0], sizeof *addr);
  return true;
}

void cCheckBroker::run(cCheckContext& c) {
  std::string host = c.value("zam.broker.host");
  in_addr addr;
  if (!resolve(host, &addr)) {
    c.report->add(kPart, cCheckReport::kFail,
                  host + " (zam.broker.host) does not resolve to an IPv4 address",
                  "set zam.broker.host to the broker's host name or IPv4 address, or add the "
                  "name to /etc/hosts");
    return;
  }
  char ip[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &addr, ip, sizeof ip);
  c.report->ok(kPart, host + " (zam.broker.host) resolves to " + ip);
  int port = 0;
  if (!cProperties::parseInt(c.value("zam.broker.port").c_str(), &port)) return;  // said above
  std::string where = std::string(ip) + ":" + std::to_string(port);
  if (!isLocal(addr)) {
    c.report->ok(kPart, where + " is on another host: not checked from here");
  } else if (portBound(addr, port)) {
    c.report->ok(kPart, "a socket is bound to UDP " + where + ": the broker listens");
  } else {
    c.report->add(kPart, cCheckReport::kWarn, "nothing is bound to UDP " + where + " yet",
                  "start the broker (ferrycat broker stands in for it to try the relay)");
  }
}
