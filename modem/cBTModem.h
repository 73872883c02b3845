#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "support/cHDLC.h"
#include "support/cYlog.h"

class cBTCmd;

// Driver of the serial Bluetooth module: reset pulse, serial set-up, the reader thread (command
// lines, status lines, bypass-mode unframing and escape detection), framed sends and the AT
// command operations.
class cBTModem : public cYlog {
 public:
  explicit cBTModem(const char* ttyPath);

  void resetModule();
  int openTty(const char* path);
  // Writes all len bytes (after partial writes and EINTR); never interleaves with another write.
  int write(const char* data, int len);
  // Frames and writes one payload in bypass mode; drops it in command mode.
  void sendFrame(const unsigned char* data, int len);

  // AT command operations, run on the link state thread.
  void disableDiscovery();
  void enableDiscovery();
  void enableBond();
  void disableBond();
  void eraseBondTable();
  void setName(const char* name);
  void getConfig();

  bool inBypass() const { return mBypass.load(); }

 private:
  static void* readerThreadEntry(void* self);
  void readerThread();
  void receive();
  void onLine(char* line, int len);
  void parseURC(char* line);
  void onBypassData(const unsigned char* data, int len);
  void runCommand(cBTCmd* cmd, const char* successLine);

  int32_t mTtyFd;
  std::atomic<bool> mBypass;
  char mLine[1024];
  int32_t mLineLen;
  cBTCmd* mPendingCmd;  // guarded by mPendingMutex
  int32_t mURCIdx;
  cHDLC mHDLC;
  pthread_mutex_t mPendingMutex;  // "deliver a line" versus "withdraw the command"
  pthread_mutex_t mWriteMutex;    // keeps frames and command lines whole on the wire
};
