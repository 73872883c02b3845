#include "check/cCheckBroker.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstdio>
#include <cstring>

#include "check/cCheckContext.h"
#include "support/cUdpTable.h"

namespace {

const char* const kPart = "broker";

// A socket bound to the port on addr or on every address, not connected.
bool portBound(in_addr addr, int port) {
  return cUdpTable::scan([&](const cUdpTable::cLine& u) {
    return static_cast<int>(u.localPort) == port && u.state == cUdpTable::kUnconnected &&
           (u.localIp == 0 || u.localIp == addr.s_addr);
  });
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
  if (!cUdpTable::isLocal(addr)) {
    c.report->ok(kPart, where + " is on another host: not checked from here");
  } else if (portBound(addr, port)) {
    c.report->ok(kPart, "a socket is bound to UDP " + where + ": the broker listens");
  } else {
    c.report->add(kPart, cCheckReport::kWarn, "nothing is bound to UDP " + where + " yet",
                  "start the broker (ferrycat broker stands in for it to try the relay)");
  }
}
