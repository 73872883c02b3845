#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "modem/cBTModemListener.h"
#include "support/YMsg.h"
#include "support/cProperties.h"
#include "support/cReassembler.h"
#include "support/cStats.h"
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
// while the instance does not exist. Listens to the module driver's receive path.
class cBTMsg : public cYlog, public cBTModemListener {
 public:
  // Serialised segment sizes towards the module: a framed segment of kMaxSegSize bytes fills the
  // modem's 2048-byte framing buffer; kMinSegSize carries one payload byte after the header.
  static constexpr int kDefaultSegSize = 256;
  static constexpr int kMinSegSize = 6;
  static constexpr int kMaxSegSize = 1021;
  // Seconds between two summaries of the counters ("ferryd.stats.interval"; 0: none).
  static constexpr int kDefaultStatsInterval = 600;

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
  // The link state for the service status: "set-up" until the module has been prepared, then
  // "stand-by", "discovery", "paired" or "connected"; "none" before create().
  static const char* linkStateName();
  // Logs the counters line now (on request; the periodic one keeps its own schedule).
  static void logCounters();

  explicit cBTMsg(cProperties* props);

  // The receive path's reports, run on the modem's reader thread: requests into the link state
  // machine and frames for reassembly, through the static operations above.
  void onBondOk() override;
  void onModeChange(ModeChange change) override;
  void onFrame(const unsigned char* payload, int len) override;

 private:
  struct cStateRow;
  static const cStateRow kStates[4];

  static void* stateThreadEntry(void* self);
  static void post(int32_t state);
  void stateThread();
  void startUp();
  void tick();
  void enterState(int32_t state);
  void runStateTick();
  void enterStandby();
  void enterDiscovery();
  void enterPaired();
  void enterConnected();
  void tickStandby();
  void tickDiscovery();
  void tickPaired();
  void tickConnected();
  void checkDiscoveryTimeout();
  void signalState();
  int32_t readSegSize() const;
  int readStatsInterval() const;
  void logStats();
  void relaySouth(YMsg* msg);
  void relaySegments(YMsg* msg);

  cBTModem* mModem;
  cProperties* mProps;
  std::atomic<int32_t> mLinkState;  // written by the link state thread only
  std::atomic<bool> mSetUp;         // the module has been prepared at start
  std::atomic<int32_t> mRequestedState;
  int32_t mDiscoveryStart;
  cReassembler mPendingMsg;  // the partial message from the module
  int32_t mSegSize;
  cStats mStats;  // the periodic summary, logged by the link state thread
  pthread_mutex_t mStateMutex;
  pthread_cond_t mStateCond;
};
