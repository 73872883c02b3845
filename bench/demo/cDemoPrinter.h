#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "bench/demo/cDemoWatch.h"

class cBench;

// Prints the watched events as they happen, one line each, in time order, with daemon seconds
// since the start. Events are held back for a short while (the LEDs' view needs a few ticks to
// be certain) so that the lines come out in order; an event that is seen later than that is still
// printed, with its own time.
class cDemoPrinter {
 public:
  cDemoPrinter(cDemoWatch& watch, const cBench& bench);
  ~cDemoPrinter();
  cDemoPrinter(const cDemoPrinter&) = delete;
  cDemoPrinter& operator=(const cDemoPrinter&) = delete;

  void start();
  // Takes in the last events, prints everything still held back and ends the thread.
  void stop();
  // The line for one event.
  std::string format(const cDemoEvent& event) const;

 private:
  void run();
  void printDue(double upTo);

  cDemoWatch& mWatch;
  const cBench& mBench;
  double mHoldSeconds;  // real seconds an event is held back
  std::atomic<bool> mStop{false};
  std::thread mThread;
  size_t mNext = 0;  // events taken from the watch so far
  std::vector<cDemoEvent> mHeld;
};
