#include "check/cCheckService.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include "check/cCheckBroker.h"
#include "check/cCheckContext.h"
#include "check/cCheckUnit.h"

namespace {

const char* const kPart = "service";

void checkState(cCheckContext& c) {
  std::string enabled = c.unit->get("UnitFileState");
  if (enabled == "enabled") {
    c.report->ok(kPart, "ferryd.service is enabled");
  } else {
    c.report->add(kPart, cCheckReport::kWarn, "ferryd.service is " + enabled + ", not enabled",
                  "systemctl enable ferryd");
  }
  std::string active = c.unit->get("ActiveState");
  if (active == "active") {
    c.report->ok(kPart, "ferryd.service is active");
  } else {
    c.report->add(kPart, cCheckReport::kWarn, "ferryd.service is " + active,
                  "systemctl restart ferryd, once the failures above are fixed");
  }
}

void checkDevice(cCheckContext& c, const char* key) {
  std::string path = c.value(key);
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return;  // said above
  if (c.unit->allowsDevice(path)) {
    c.report->ok(kPart, path + " (" + key + ") is allowed by the unit's DeviceAllow=");
    return;
  }
  std::string line = "DeviceAllow=" + path + " rw";
  c.needLine(line);
  c.report->add(kPart, cCheckReport::kFail,
                path + " (" + key + ") is not allowed by the unit's DeviceAllow=",
                "in the drop-in below: " + line);
}

void checkAddress(cCheckContext& c) {
  in_addr addr;
  if (!cCheckBroker::resolve(c.value("zam.broker.host"), &addr)) return;  // said above
  char ip[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &addr, ip, sizeof ip);
  if (c.unit->allowsAddress(addr)) {
    c.report->ok(kPart, std::string(ip) + " (zam.broker.host) is allowed by IPAddressAllow=");
    return;
  }
  std::string line = std::string("IPAddressAllow=") + ip;
  c.needLine(line);
  c.report->add(kPart, cCheckReport::kFail,
                std::string(ip) + " (zam.broker.host) is outside the unit's IPAddressAllow=",
                "in the drop-in below: " + line);
}

void printDropIn(cCheckContext& c) {
  if (c.dropIn.empty()) return;
  std::string text = "systemctl edit ferryd, and write:\n[Service]";
  for (const std::string& line : c.dropIn) text += "\n" + line;
  text += "\nthen: systemctl restart ferryd";
  c.report->add(kPart, cCheckReport::kFail, "the unit needs a drop-in", text);
}

}  // namespace

void cCheckService::run(cCheckContext& c) {
  if (c.unit == nullptr) {
    c.report->add(kPart, cCheckReport::kSkip,
                  "systemd does not run this system: the unit and its sandbox are not checked");
    return;
  }
  std::string load = c.unit->get("LoadState");
  if (load != "loaded") {
    c.report->add(kPart, cCheckReport::kFail, "ferryd.service is not installed (" + load + ")",
                  "install the ferryd package");
    return;
  }
  checkState(c);
  checkDevice(c, "ferryd.io.tty");
  checkDevice(c, "ferryd.io.pvxio");
  checkAddress(c);
  printDropIn(c);
}
