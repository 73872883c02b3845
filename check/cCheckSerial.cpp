#include "check/cCheckSerial.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "check/cCheckContext.h"
#include "check/cCheckHolders.h"
#include "check/cCheckModule.h"
#include "check/cCheckNode.h"
#include "check/cCheckUnit.h"
#include "modem/cBTModem.h"

namespace {

const char* const kPart = "serial";

// "0016A4B1C2D3" as "00:16:A4:B1:C2:D3", the form a PC's pairing tools show.
std::string colonAddress(const std::string& hex) {
  if (hex.size() != 12) return hex;
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) out += ':';
    out += hex.substr(i, 2);
  }
  return out;
}

void reportDaemon(cCheckContext& c, const cCheckHolders::cHolder& h) {
  std::string pid = std::to_string(h.pid);
  c.report->ok(kPart, "held by the running ferryd (pid " + pid + "): the module is not touched");
  if (c.unit != nullptr && c.unit->get("MainPID") == pid && !c.unit->get("StatusText").empty()) {
    c.report->ok(kPart, "ferryd's status: " + c.unit->get("StatusText"));
  } else {
    c.report->add(kPart, cCheckReport::kSkip,
                  "ferryd (pid " + pid +
                      ") runs outside systemd: its status line goes to "
                      "systemd only; kill -USR1 " +
                      pid + " logs its counters line");
  }
}

// True when nobody else holds the line (the check may go on to open it).
bool checkHolders(cCheckContext& c, const std::string& path) {
  std::vector<cCheckHolders::cHolder> holders = cCheckHolders::find(path);
  for (const cCheckHolders::cHolder& h : holders) {
    if (h.ferryd) {
      reportDaemon(c, h);
      return false;
    }
  }
  for (const cCheckHolders::cHolder& h : holders) {
    c.report->add(kPart, cCheckReport::kFail,
                  path + " is held by " + h.name + " (pid " + std::to_string(h.pid) + ")",
                  "stop it, and keep it off the port: a getty with systemctl mask "
                  "serial-getty@<tty>.service, ModemManager with the udev property "
                  "ID_MM_DEVICE_IGNORE=1 on the port");
  }
  if (!holders.empty()) return false;
  // Another user's descriptors are hidden from all but root.
  c.report->ok(kPart, "no other program holds " + path +
                          (geteuid() == 0 ? "" : " (of those this user may see: run as root)"));
  return true;
}

bool setUp(cCheckContext& c, int fd, const std::string& path) {
  cBTModem settings(cBTModem::cNoDevice{});
  settings.configureTty(fd, path.c_str());  // as the daemon sets the line up
  termios tio;
  if (tcgetattr(fd, &tio) != 0 || cfgetispeed(&tio) != B115200 || (tio.c_lflag & ICANON) != 0) {
    c.report->add(kPart, cCheckReport::kFail, path + ": raw 115200 baud could not be set",
                  "the device's driver refuses the daemon's settings: is it a serial port?");
    return false;
  }
  c.report->ok(kPart, path + ": opened raw at 115200 baud, 8N1");
  return true;
}

void reportAnswer(cCheckContext& c, const cCheckModule& m) {
  const cBTCmdGetConfig& cfg = m.config();
  std::string name = cfg.deviceName();
  std::string found = std::string("module answers: firmware ") + cfg.buildVersion() +
                      ", Bluetooth address " + colonAddress(cfg.bdAddress()) + ", name " + name;
  if (name != c.value("ferryd.io.btname")) {
    found += " (the daemon names it " + c.value("ferryd.io.btname") + " at start-up)";
  }
  c.report->ok(kPart, found);
}

void reportSilence(cCheckContext& c, const cCheckModule& m) {
  std::string seconds = std::to_string(cCheckSerial::kAnswerMs / 1000);
  std::string found;
  if (m.writeError() != 0) {
    found = "the query could not be written (" + std::string(strerror(m.writeError())) + ")";
  } else if (m.inBypass()) {
    found = "the module answers in bypass mode (frames, not lines)";
  } else if (m.lines() > 0) {
    found = "no complete answer in " + seconds + " s to AT+AB config; " +
            std::to_string(m.lines()) + " other lines, the first: " + m.firstLine();
  } else {
    found = "no answer in " + seconds + " s to AT+AB config";
  }
  c.report->add(kPart, cCheckReport::kFail, found,
                "the usual causes: wiring (TX and RX crossed, ground), speed (the module must "
                "run at 115200 baud), power, the reset line held (ferryd --check --reset pulses "
                "it), the module still in bypass mode with a peer (disconnect the peer or power "
                "the module off and on)");
}

}  // namespace

void cCheckSerial::run(cCheckContext& c) {
  std::string path = c.value("ferryd.io.tty");
  struct stat st;
  if (!cCheckNode::check(c, kPart, "ferryd.io.tty", path, "dialout", &st)) return;
  if (!checkHolders(c, path)) return;
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    c.report->add(kPart, cCheckReport::kFail, path + ": could not be opened: " + strerror(err),
                  "run the check as root, or as a user who may open the device");
    return;
  }
  if (!isatty(fd)) {
    c.report->add(kPart, cCheckReport::kFail, path + ": not a terminal",
                  "set ferryd.io.tty to the module's serial port");
  } else if (setUp(c, fd, path)) {
    tcflush(fd, TCIFLUSH);  // what came before the query is not its answer
    cCheckModule module;
    if (module.query(fd, kAnswerMs)) {
      reportAnswer(c, module);
    } else {
      reportSilence(c, module);
    }
  }
  close(fd);
}
