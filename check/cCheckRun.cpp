#include "check/cCheckRun.h"

#include <cstdio>
#include <cstring>
#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>
#include <string>

#include "check/cCheckBroker.h"
#include "check/cCheckConfig.h"
#include "check/cCheckContext.h"
#include "check/cCheckGpio.h"
#include "check/cCheckSerial.h"
#include "check/cCheckService.h"
#include "check/cCheckUnit.h"

namespace {

const char* const kUsage =
    "usage: ferryd [CONFIG]                  run the daemon (default /etc/qmx/ferryd.conf)\n"
    "       ferryd --check|-t [options] [CONFIG]\n"
    "  --json        one JSON object a line per check\n"
    "  --leds        light each Bluetooth LED in turn for a second\n"
    "  --reset       pulse the module's reset line for a second\n"
    "  --as-me       check device access as the caller, not as the service's user\n"
    "  --user NAME   check device access as NAME (default: the unit's User=, ferryd)\n";

struct cOptions {
  bool check = false;
  bool json = false;
  bool leds = false;
  bool reset = false;
  bool asMe = false;
  std::string user;
  const char* config = nullptr;
};

// 0: parsed; 1: help shown; 2: usage error (said).
int parse(int argc, char** argv, cOptions* o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (strcmp(a, "--check") == 0 || strcmp(a, "-t") == 0) {
      o->check = true;
    } else if (strcmp(a, "--json") == 0) {
      o->json = true;
    } else if (strcmp(a, "--leds") == 0) {
      o->leds = true;
    } else if (strcmp(a, "--reset") == 0) {
      o->reset = true;
    } else if (strcmp(a, "--as-me") == 0) {
      o->asMe = true;
    } else if (strcmp(a, "--user") == 0 && i + 1 < argc) {
      o->user = argv[++i];
    } else if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
      fputs(kUsage, stdout);
      return 1;
    } else if (a[0] == '-' || o->config != nullptr) {
      fprintf(stderr, "ferryd: %s: %s\n%s", a,
              a[0] == '-' ? "unknown option, or its value missing" : "a second configuration file",
              kUsage);
      return 2;
    } else {
      o->config = a;
    }
  }
  if (!o->check) {
    fprintf(stderr, "ferryd: options are for the check mode: add --check\n%s", kUsage);
    return 2;
  }
  if (o->asMe && !o->user.empty()) {
    fprintf(stderr, "ferryd: --as-me and --user exclude each other\n%s", kUsage);
    return 2;
  }
  return 0;
}

// The daemon's components log their findings; here the report says them.
void silenceLog() {
  log4cpp::Category& root = log4cpp::Category::getRoot();
  root.removeAllAppenders();
  root.setPriority(log4cpp::Priority::EMERG);
}

std::string groupList(const cCheckUser& user) {
  std::string text;
  for (gid_t g : user.groups()) {
    if (!text.empty()) text += ", ";
    text += cCheckUser::groupName(g);
  }
  return text;
}

void chooseUser(cCheckContext& c, const cOptions& o, const cCheckUnit* unit) {
  c.asService = !o.asMe;
  bool installed = unit != nullptr && unit->get("LoadState") == "loaded";
  std::string name = o.user;
  if (name.empty() && installed) name = unit->get("User");
  if (name.empty() && installed) name = "root";  // a unit without User= runs as root
  if (name.empty()) name = "ferryd";
  if (o.asMe) {
    c.user.fromCaller();
    c.report->ok("access",
                 "checked as the caller, " + c.user.name() + " (groups " + groupList(c.user) + ")");
    return;
  }
  if (!c.user.lookUp(name)) {
    c.user.fromCaller();
    c.asService = false;
    c.report->add(
        "access", cCheckReport::kWarn,
        "user " + name + " does not exist: access checked as the caller, " + c.user.name(),
        "install the ferryd package (it creates the user), or name the unit's user "
        "with --user");
    return;
  }
  if (unit != nullptr) {
    std::string groups = unit->get("SupplementaryGroups");
    size_t start = 0;
    while (start < groups.size()) {
      size_t end = groups.find(' ', start);
      if (end == std::string::npos) end = groups.size();
      if (end > start) c.user.addGroup(groups.substr(start, end - start));
      start = end + 1;
    }
  }
  c.report->ok("access", "checked as the service's user, " + c.user.name() + " (groups " +
                             groupList(c.user) + ")");
}

}  // namespace

bool cCheckRun::wanted(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') return true;
  }
  return false;
}

int cCheckRun::main(int argc, char** argv) {
  cOptions o;
  int rc = parse(argc, argv, &o);
  if (rc != 0) return rc == 1 ? 0 : 2;
  silenceLog();
  cProperties props;
  props.load(o.config != nullptr ? o.config : cProperties::kDefaultPath);
  cCheckReport report(o.json);
  cCheckUnit unit;
  const cCheckUnit* unitRead = nullptr;
  std::string why;
  if (cCheckUnit::systemdRuns()) {
    if (unit.read(cCheckContext::kUnit, &why)) {
      unitRead = &unit;
    } else {
      report.add("service", cCheckReport::kWarn, why, "is systemctl installed?");
    }
  }
  cCheckContext c;
  c.props = &props;
  c.report = &report;
  c.leds = o.leds;
  c.reset = o.reset;
  c.unit = unitRead;
  chooseUser(c, o, unitRead);
  cCheckConfig::run(c);
  cCheckGpio::run(c);
  cCheckSerial::run(c);
  cCheckBroker::run(c);
  cCheckService::run(c);
  report.summary();
  return report.failures() > 0 ? 1 : 0;
}
