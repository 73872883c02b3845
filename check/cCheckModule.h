#pragma once

#include <string>

#include "modem/cBTCmdGetConfig.h"
#include "modem/cBTModemListener.h"

// The module's answer to the daemon's own configuration query ("AT+AB config", cBTCmdGetConfig)
// on an open serial line: the command is written, and the bytes that come back go through the
// daemon's receive path (cBTModem without a device) until the completing line or the time-out.
class cCheckModule : public cBTModemListener {
 public:
  // True when the module answered completely within timeoutMs.
  bool query(int fd, int timeoutMs);

  const cBTCmdGetConfig& config() const { return mCmd; }
  int lines() const { return mLines; }
  const std::string& firstLine() const { return mFirstLine; }
  // Frames or "-BypassMode-" came back: the module is in bypass mode.
  bool inBypass() const { return mBypass; }
  // The query could not be written: errno of the write (0: it was written).
  int writeError() const { return mWriteError; }

  void onLine(const char* line, int len, const char* keyword) override;
  void onModeChange(ModeChange change) override;
  void onFrame(const unsigned char* payload, int len) override;
  void onFrameDropped(cHDLC::DropReason reason, int len) override;

 private:
  cBTCmdGetConfig mCmd;
  bool mDone = false;
  bool mBypass = false;
  int mWriteError = 0;
  int mLines = 0;
  std::string mFirstLine;
};
