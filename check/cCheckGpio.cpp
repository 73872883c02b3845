#include "check/cCheckGpio.h"

#include <sys/ioctl.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "check/cCheckContext.h"
#include "check/cCheckNode.h"
#include "io/cIO.h"

namespace {

const char* const kPart = "gpio";

struct cPinKey {
  const char* key;
  const char* role;
  int (cIO::*pin)() const;
};

// clang-format off
const cPinKey kPins[] = {
  {"ferryd.io.btpair",  "pairing button",    &cIO::pairPin},
  {"ferryd.io.btreset", "module reset line", &cIO::resetPin},
  {"ferryd.io.btledr",  "red LED",           &cIO::redPin},
  {"ferryd.io.btledg",  "green LED",         &cIO::greenPin},
};
// clang-format on

// The names in the device's pin table, in its order ("(none)" when the table cannot be read).
std::string offeredNames(int fd) {
  int count = ioctl(fd, cIO::kPinCountRequest);
  if (count <= 0 || count > cIO::kMaxPins) return "(the device reports no pins)";
  std::vector<unsigned char> table(count * cIO::kTableEntrySize);
  if (ioctl(fd, cIO::kPinTableRequest, table.data()) <= 0) return "(its pin table cannot be read)";
  std::string names;
  for (int i = 0; i < count; ++i) {
    const char* name = reinterpret_cast<const char*>(&table[i * cIO::kTableEntrySize + 4]);
    if (!names.empty()) names += ", ";
    names += std::string(name, strnlen(name, cIO::kNameSize));
  }
  return names;
}

void sleepSeconds(int s) {
  timespec ts{s, 0};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void checkPins(cCheckContext& c, cIO& io) {
  std::string offered;
  for (const cPinKey& p : kPins) {
    std::string name = c.value(p.key);
    int pin = (io.*p.pin)();
    if (pin >= 0) {
      c.report->ok(kPart, std::string(p.role) + ": pin " + name + " (" + p.key + ") is pin " +
                              std::to_string(pin));
      continue;
    }
    if (offered.empty()) offered = offeredNames(io.fd());
    c.report->add(kPart, cCheckReport::kFail,
                  std::string(p.role) + ": no pin named " + name + " (" + p.key +
                      "); the device offers " + offered,
                  "set " + std::string(p.key) + " to this board's name for it");
  }
}

void checkButton(cCheckContext& c, cIO& io) {
  if (io.pairPin() < 0) return;
  int level = io.readPin(io.pairPin());
  if (level == 0) {
    c.report->add(kPart, cCheckReport::kWarn, "pairing button: pressed (reads 0)",
                  "release it; held down at start-up it starts discovery at once");
  } else if (level > 0) {
    c.report->ok(kPart, "pairing button: released (reads " + std::to_string(level) + ")");
  } else {
    c.report->add(kPart, cCheckReport::kFail, "pairing button: its level cannot be read",
                  "the device answers the pin table but not reads: check its driver");
  }
}

void pulse(cCheckContext& c, cIO& io, int pin, const std::string& what) {
  if (pin < 0) return;
  bool done = io.writePin(pin, 1) == cIO::kRecordSize;
  sleepSeconds(1);
  done = io.writePin(pin, 0) == cIO::kRecordSize && done;
  if (done) {
    c.report->ok(kPart, what + ": set for one second, then cleared");
  } else {
    c.report->add(kPart, cCheckReport::kFail, what + ": the device refused the write",
                  "check the device's driver");
  }
}

}  // namespace

void cCheckGpio::run(cCheckContext& c) {
  std::string path = c.value("ferryd.io.pvxio");
  struct stat st;
  if (!cCheckNode::check(c, kPart, "ferryd.io.pvxio", path, "gpio", &st)) return;
  cIO io(c.props);  // opens the device and looks the pins up, as the daemon's start does
  if (io.fd() < 0) {
    int err = errno;
    c.report->add(kPart, cCheckReport::kFail, path + ": could not be opened: " + strerror(err),
                  "run the check as root, or as a user who may open the device");
    return;
  }
  checkPins(c, io);
  checkButton(c, io);
  if (c.leds) {
    pulse(c, io, io.redPin(), "red LED (" + c.value("ferryd.io.btledr") + ")");
    pulse(c, io, io.greenPin(), "green LED (" + c.value("ferryd.io.btledg") + ")");
  }
  if (c.reset)
    pulse(c, io, io.resetPin(), "module reset line (" + c.value("ferryd.io.btreset") + ")");
}
