#pragma once

#include <string>
#include <vector>

#include "bench/demo/cDemoChecks.h"
#include "bench/demo/cDemoWatch.h"

class cBench;

// What the parts of the scripted session share: the bench, the watch that records what happened,
// the checklist, and waits that follow the daemon's clock speed with room for a busy machine.
class cDemoScene {
 public:
  cDemoScene(cBench& bench, cDemoWatch& watch, cDemoChecks& checks);

 protected:
  // A line of the story, told by the demo (who: "button", "module", "broker", "peer", "demo").
  void say(const std::string& who, const std::string& text);
  void dwell(double daemonSeconds);
  // Waits until the LEDs' view is view and began at or after the real time since; true if so.
  bool waitLeds(const std::string& view, double since, double daemonSeconds = 8);
  // The LED views seen since the real time since, "a, b, c" (for the checklist's details).
  std::string ledsSince(double since) const;
  // The module's command lines from index from on, "a | b".
  std::vector<std::string> commandsFrom(size_t from) const;
  size_t commandCount() const;
  int logCount(const std::string& text) const;
  // Daemon clock of the last log line containing text; -1 when there is none.
  double lastDaemonTime(const std::string& text) const;
  static std::string join(const std::vector<std::string>& items, const std::string& separator);
  void expect(const std::string& what, bool passed, const std::string& detail = "") {
    mChecks.expect(what, passed, detail);
  }

  cBench& mBench;
  cDemoWatch& mWatch;
  cDemoChecks& mChecks;
};
