#pragma once

#include "bench/demo/cDemoScene.h"

// The scripted session on the simulated board: start-up and module set-up, a held pairing button
// (discovery), the peer bonding (paired) and connecting (connected), messages both ways, the peer
// leaving (discovery again) and the discovery time-out (stand-by). Each step waits for the
// daemon's own evidence and records its expectations in the checklist.
class cDemoSession : public cDemoScene {
 public:
  using cDemoScene::cDemoScene;

  // Plays the session; false when a step failed so badly that the rest could not follow.
  bool play();

 private:
  bool startUp();
  bool pair();
  bool bond();
  bool connect();
  bool leave();
  bool timeOut();
  bool waitStandby();
  void finalChecks();
  void checkSetUpCommands();
};
