#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/cSimGpioModel.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

// The simulated pvxio GPIO device, served through umockdev to the daemon's real open, ioctl,
// read and write calls. The node is a pseudo-terminal so that poll() works: an input change puts
// a byte on the terminal (input ready) and the daemon's next read takes it away.
//
// In-process use (the test program opens the device itself): run the program with
// LD_PRELOAD=<umockdev preload>; the testbed sets UMOCKDEV_DIR in the process environment when
// it is made, so make at most one cSimGpio at a time and make it before starting threads.
// Separate-process use: give the child the entries of childEnv().
class cSimGpio {
 public:
  using cWrite = cSimGpioWrite;

  static constexpr const char* kButtonName = "BT_PAIR";

  // BT_PAIR (button, value 1 = released), BT_RESET, LED_BT_RED, LED_BT_GREEN.
  static std::vector<cSimPin> defaultPins();

  // devPath must start with "/dev/". Throws std::runtime_error when the testbed cannot be made.
  explicit cSimGpio(std::vector<cSimPin> pins = defaultPins(),
                    const std::string& devPath = "/dev/pvxio0");
  ~cSimGpio();
  cSimGpio(const cSimGpio&) = delete;
  cSimGpio& operator=(const cSimGpio&) = delete;

  const std::string& devPath() const { return mDevPath; }
  // "NAME=value" entries a child process needs to see the device: LD_PRELOAD, UMOCKDEV_DIR and
  // ASAN_OPTIONS (this process's, with verify_asan_link_order=0 added for sanitizer builds).
  // A child that needs a further preload (libfaketime) joins it to LD_PRELOAD with ':'.
  std::vector<std::string> childEnv() const;

  // The pairing button (reads 0 while pressed).
  void press();
  void release();
  // Changes an input; when the value changes, the device reports input ready.
  void setInput(uint16_t pin, uint16_t value);
  // Reports input ready without changing any value (a spurious driver event): wakes a waiting
  // tick at once.
  void raiseInputReady();

  // Every write call the daemon made, as its records.
  std::vector<std::vector<cWrite>> writes() const { return mModel.writes(); }
  void clearWrites() { mModel.clearWrites(); }
  // Waits up to timeoutMs until at least n write calls were made; true when they were.
  bool waitWrites(size_t n, int timeoutMs) const;
  // Time of every read call (one per daemon tick); CLOCK_MONOTONIC seconds of this process.
  std::vector<double> readTimes() const { return mModel.readTimes(); }
  int countRequests() const { return mModel.countRequests(); }

  int value(uint16_t pin) const { return mModel.value(pin); }  // present value, -1 if no such pin
  uint16_t pinId(const std::string& name) const { return mModel.pinId(name); }  // 0xFFFF if none

  // Faults (see cSimGpioModel).
  void setCountReply(std::optional<int> reply) { mModel.setCountReply(reply); }
  void setTableFails(bool fails) { mModel.setTableFails(fails); }
  void setReadFails(bool fails) { mModel.setReadFails(fails); }
  void setWriteFails(bool fails) { mModel.setWriteFails(fails); }

 private:
  static int onIoctl(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
  static int onRead(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
  static int onWrite(UMockdevIoctlBase* base, UMockdevIoctlClient* client, void* self);
  void handleIoctl(UMockdevIoctlClient* client);
  void handleRead(UMockdevIoctlClient* client);
  void handleWrite(UMockdevIoctlClient* client);
  void openTerminal();
  void dispose();                                   // the testbed, the handler, our terminal
  [[noreturn]] void fail(const std::string& what);  // disposes of what was made, then throws
  void clearInputReady();

  cSimGpioModel mModel;
  std::string mDevPath;
  std::string mRootDir;
  UMockdevTestbed* mTestbed = nullptr;
  UMockdevIoctlBase* mHandler = nullptr;
  // Set on the test's thread, used on the testbed's serving thread: the hand-over goes through
  // umockdev's socket, which the thread sanitizer cannot see, hence atomics.
  std::atomic<int> mMaster{-1};  // the testbed's side of the node's terminal (not ours to close)
  std::atomic<int> mSlave{-1};  // our own descriptor on the daemon's side, to take input-ready away
};
