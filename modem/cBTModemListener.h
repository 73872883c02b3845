#pragma once

#include "support/cHDLC.h"

// What the modem's receive path reports, in the order the bytes cause it: the link manager acts
// on it in the daemon, and the serial-line decoder shows it. One call per line, frame or mode
// change, none per byte; every call runs on the thread that hands the bytes in (the reader).
// The defaults do nothing.
class cBTModemListener {
 public:
  enum ModeChange {
    kBypassEntered,   // "-BypassMode-": the bytes after its line are unframed
    kBypassEscaped,   // "AT-AB" in bypass mode: the bytes after it build lines again
    kConnectionDown,  // the device failed or hung up while in bypass mode
  };

  // A command-mode line (without CR LF) before it is acted on; keyword is its status keyword
  // ("BondOk", "-BypassMode-", ...) for a status line, null for any other line.
  virtual void onLine(const char* line, int len, const char* keyword) {
    (void)line, (void)len, (void)keyword;
  }
  // "BondOk": the peer bonded.
  virtual void onBondOk() {}
  virtual void onModeChange(ModeChange change) { (void)change; }
  // A good bypass-mode frame; the payload is valid during the call only.
  virtual void onFrame(const unsigned char* payload, int len) { (void)payload, (void)len; }
  // A bypass-mode frame dropped by the unframer (len: the bytes it had collected).
  virtual void onFrameDropped(cHDLC::DropReason reason, int len) { (void)reason, (void)len; }

 protected:
  ~cBTModemListener() = default;
};
