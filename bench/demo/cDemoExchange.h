#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/demo/cDemoScene.h"

// Messages both ways while the peer is connected: one that fits one segment and one that needs
// several in each direction, and one holding "AT-AB" each way, which must cross without ending
// bypass mode.
class cDemoExchange : public cDemoScene {
 public:
  using cDemoScene::cDemoScene;

  // False when the link did not stay connected through the messages.
  bool play();

 private:
  struct cMessage {
    bool north;  // sent by the peer; otherwise by the broker
    int id;
    std::vector<uint8_t> payload;
    bool oneUnit;             // fits one segment (south) or datagram (north); else needs several
    std::string expectation;  // what the checklist says about it
  };

  static std::vector<cMessage> messages();
  // Sends one message and waits for it on the other side; true when it arrived, with its record
  // in seen.
  bool relay(const cMessage& message, cDemoRelay* seen);
  void check(const cMessage& message, bool arrived, const cDemoRelay& seen);
};
