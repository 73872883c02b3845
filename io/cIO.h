#pragma once

#include <atomic>
#include <cstdint>

#include "support/cProperties.h"
#include "support/cYlog.h"

// Board I/O on the GPIO character device: the pairing button, the module's reset line and the
// red and green Bluetooth LEDs. One instance per process, made by create().
class cIO : public cYlog {
 public:
  static void create(cProperties* props);
  static void setLedMode(int mode);
  static void setLedBlink(int on);
  static void setLedLit();
  // One board tick: waits at most one second for the device, reads the button, blinks, rewrites
  // both LEDs.
  static void tick();
  static void setResetLine(int level);
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

  int32_t mPairPin;
  int32_t mResetPin;
  int32_t mRedPin;
  int32_t mGreenPin;
  int32_t mFd;
  std::atomic<int32_t> mLedMode;
  std::atomic<bool> mLedLit;
  std::atomic<bool> mLedBlink;
  int32_t mPressCount;
};
