#include "support/cUdpTable.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace {

bool parse(const char* line, cUdpTable::cLine* l) {
  unsigned long txQueue = 0;
  // sl local remote st tx:rx tr:when retrnsmt uid timeout inode ref pointer drops
  return sscanf(line, " %*d: %8X:%4X %8X:%4X %2X %8lX:%8lX %*x:%*x %*x %*u %*d %*u %*d %*x %lu",
                &l->localIp, &l->localPort, &l->remoteIp, &l->remotePort, &l->state, &txQueue,
                &l->rxQueue, &l->drops) == 8;
}

}  // namespace

bool cUdpTable::scan(const std::function<bool(const cLine&)>& take) {
  FILE* udp = fopen("/proc/net/udp", "re");
  if (udp == nullptr) return false;
  char text[512];
  bool found = false;
  if (fgets(text, sizeof text, udp) == nullptr) text[0] = '\0';  // the header
  cLine line;
  while (!found && fgets(text, sizeof text, udp) != nullptr) {
    if (parse(text, &line)) found = take(line);
  }
  fclose(udp);
  return found;
}

bool cUdpTable::isLocal(in_addr addr) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr = addr;
  bool local = bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
  close(fd);
  return local;
}
