#pragma once

#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/cSimModule.h"
#include "modem/cBTModem.h"
#include "support/YMsg.h"
#include "tests/common/cLogCapture.h"

// A driver on a simulated module. The driver is never deleted: its reader thread runs until the
// process ends (each test runs in a process of its own).
struct cModemRig {
  cLogCapture log;
  cSimModule sim;
  cBTModem* modem;

  cModemRig() : modem(new cBTModem(sim.ttyPath().c_str())) {}

  // Sends bytes and waits until the driver has logged the read that took them, so the next
  // bytes come in a read of their own.
  bool sendRead(const std::string& bytes) {
    int before = log.count("Received " + std::to_string(bytes.size()) + " bytes");
    sim.sendRaw(bytes);
    return log.waitFor("Received " + std::to_string(bytes.size()) + " bytes", before + 1);
  }
  bool enterBypass() {
    sim.enterBypass();
    return waitUntil([this] { return modem->inBypass(); });
  }
  // Time of the last log line containing text; -1000 if none.
  double timeOf(const std::string& text) const {
    auto records = log.matching(text);
    return records.empty() ? -1000.0 : records.back().time;
  }
  static bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
      if (done()) return true;
      usleep(10 * 1000);
    }
    return done();
  }
};

// One serialised segment holding a whole small message.
inline std::vector<unsigned char> segmentOf(int id, const std::string& text) {
  YMsg* msg = YMsg::create(id, text.data(), text.size());
  std::vector<unsigned char> out(YMsg::kHeaderSize + text.size());
  out.resize(msg->getMsg(out.data(), static_cast<unsigned short>(out.size())));
  delete msg;
  return out;
}

// Runs one modem operation on a thread of its own, as the link state thread would.
class cOperation {
 public:
  explicit cOperation(std::function<void()> op) : mThread(std::move(op)) {}
  ~cOperation() { join(); }
  void join() {
    if (mThread.joinable()) mThread.join();
  }

 private:
  std::thread mThread;
};
