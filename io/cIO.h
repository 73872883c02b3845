#pragma once

#include <time.h>

#include <atomic>
#include <cstdint>

#include "support/cProperties.h"
#include "support/cYlog.h"

struct pollfd;

// Board I/O on the GPIO character device: the pairing button, the module's reset line and the
// red and green Bluetooth LEDs. One instance per process, made by create().
//
// Device protocol: the pin-count request answers the number of pins; the pin-table request fills
// one 20-byte entry per pin (id at offset 0, NUL-terminated name of at most 16 bytes at offset 4);
// reads and writes carry 4-byte records {id, value}, little-endian 16-bit each.
class cIO : public cYlog {
 public:
  static constexpr unsigned long kPinCountRequest = 0x6701;      // _IO('g', 1)
  static constexpr unsigned long kPinTableRequest = 0x80046702;  // _IOR('g', 2, 4 bytes)
  static constexpr int kTableEntrySize = 20;
  static constexpr int kNameSize = 16;
  static constexpr int kRecordSize = 4;
  // A larger pin count is treated as a failed count request.
  static constexpr int kMaxPins = 4096;

  static void create(cProperties* props);
  static void setLedMode(int mode);
  static void setLedBlink(int on);
  static void setLedLit();
  // One board tick: waits at most one second for the device, reads the button, blinks, rewrites
  // both LEDs.
  static void tick();
  static void setResetLine(int level);
  // Runs hook on the main thread as soon as a signal cuts a tick's wait short; the wait then
  // goes on for the rest of the tick, so the tick keeps its rhythm.
  static void setSignalHook(void (*hook)());
  // The instance, or null before create().
  static cIO* instance();

  explicit cIO(cProperties* props);

  int findPin(int fd, const char* name);
  int readPin(int pin);
  int writePin(int pin, int value);
  void updateLeds();

  int pairPin() const { return mPairPin; }
  int resetPin() const { return mResetPin; }
  int redPin() const { return mRedPin; }
  int greenPin() const { return mGreenPin; }
  int fd() const { return mFd; }

 private:
  void doTick();
  void onReadFailure(int err, const timespec& tickStart);
  static void waitTick(pollfd* pfd, const timespec& tickStart);

  int32_t mPairPin;
  int32_t mResetPin;
  int32_t mRedPin;
  int32_t mGreenPin;
  int32_t mFd;
  std::atomic<int32_t> mLedMode;
  std::atomic<bool> mLedLit;
  std::atomic<bool> mLedBlink;
  int32_t mPressCount;
  bool mReadFailing;  // the last tick's button read failed (main thread only)
};
