#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "bench/cBenchLog.h"
#include "bench/demo/cDemoLeds.h"

class cBench;

// One line of the story: what happened, when (CLOCK_MONOTONIC seconds of this process) and who
// saw or did it ("LEDs", "link", "module", "relay", "daemon", or the demo's own actors).
struct cDemoEvent {
  double time;
  std::string who;
  std::string text;
};

// A message that crossed the daemon, as the receiving simulator put it back together.
struct cDemoRelay {
  double time;
  bool north;  // peer to broker; otherwise broker to peer
  int id;
  std::vector<uint8_t> payload;
  size_t units;    // segments (to the peer) or datagrams (to the broker) that carried it
  size_t largest;  // largest of them, serialised bytes
};

// Watches the simulated board and the daemon's log and turns what they recorded into events,
// message records and the LEDs' view. update() may be called from any thread.
class cDemoWatch {
 public:
  explicit cDemoWatch(cBench& bench);

  // Takes in what the simulators and the log recorded since the last call.
  void update();
  // An event told by the demo itself (a button press, a status line the module sends).
  void note(const std::string& who, const std::string& text);

  std::vector<cDemoEvent> eventsFrom(size_t index) const;
  std::vector<cDemoRelay> relays() const;
  std::vector<cDemoLeds::cChange> ledChanges() const;
  // The LEDs' present view ("" before the first one is certain).
  std::string ledView() const;
  // The link state of the last "Going BT_LINK_..." line ("stand-by" before any).
  std::string linkState() const;
  int stateChanges() const;

 private:
  void takeLog();
  double logTime(const cBenchLog::cLine& line);
  void takeCommands();
  void takeSouth(double now);
  void takeNorth();
  void takeLeds();
  void add(double time, const std::string& who, const std::string& text);

  cBench& mBench;
  mutable std::mutex mMutex;  // everything below
  std::vector<cDemoEvent> mEvents;
  std::vector<cDemoRelay> mRelays;
  std::vector<cDemoLeds::cChange> mLeds;
  size_t mLogNext = 0;
  double mLogZero = 1e300;
  size_t mCommandNext = 0;
  size_t mSouthNext = 0;
  size_t mSouthUnitNext = 0;
  size_t mNorthNext = 0;
  size_t mNorthUnitNext = 0;
  std::string mLinkState = "stand-by";
  int mStateChanges = 0;
};
