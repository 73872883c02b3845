#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "support/YMsg.h"
#include "support/cReassembler.h"
#include "support/cProperties.h"
#include "support/cYlog.h"

class cBTModem;

enum {
  BT_LINK_STANDBY = 0,
  BT_LINK_DISCOVERY = 1,
  BT_LINK_PAIRED = 2,
  BT_LINK_CONNECTED = 3,
};

// Bluetooth link manager: owns the module driver, runs the link state machine on its own thread
// and bridges messages between the module and the north link. Static operations do nothing
// while the instance does not exist.
class cBTMsg : public cYlog {
 public:
  static void create(cProperties* props);
  static void requestDiscovery();
  static void requestPairing();
  static void requestPaired();
  static void requestConnected();
  static void sendToModem(const char* data, int length);
  // Takes ownership of msg.
  static void sendSouth(YMsg* msg);
  static void onModemFrame(const unsigned char* data, int length);
  static cBTMsg* instance();

  explicit cBTMsg(cProperties* props);

 private:
  static void* stateThreadEntry(void* self);
  void stateThread();

  cBTModem* mModem;
  cProperties* mProps;
  int32_t mLinkState;
  std::atomic<int32_t> mRequestedState;
  int32_t mDiscoveryStart;
  cReassembler mPendingMsg;  // the partial message from the module
  int32_t mSegSize;
  pthread_mutex_t mStateMutex;
  pthread_cond_t mStateCond;
};
