#include "bench/demo/cDemoPrinter.h"

#include <time.h>

#include <algorithm>
#include <cstdio>

#include "bench/cBench.h"
#include "bench/demo/cDemoOut.h"

namespace {

// Three board ticks of daemon time make an LED view certain; plus real time for a busy machine.
const double kHoldDaemonSeconds = 3.0;
const double kHoldRealSeconds = 0.4;
const long kPollNs = 50L * 1000 * 1000;
// The daemon writes a log line before it acts on it, but the line is dated from the daemon's clock
// and its actions by the simulators: of events within this many real seconds of each other, the
// log line is put first.
const double kTieSeconds = 0.015;

// 0 for the daemon's log lines, 1 for what the simulators saw the daemon do, -1 for the demo's own
// lines and the relayed messages, which keep their places.
int causeRank(const cDemoEvent& event) {
  if (event.who == "link" || event.who == "daemon") return 0;
  if (event.who == "LEDs" || (event.who == "module" && event.text.compare(0, 2, "<-") == 0)) {
    return 1;
  }
  return -1;
}

// Moves each ranked event before the ranked events of a higher rank just before it.
void settleTies(std::vector<cDemoEvent>* events) {
  std::vector<cDemoEvent>& e = *events;
  for (size_t i = 1; i < e.size(); ++i) {
    for (size_t j = i; j > 0; --j) {
      int rank = causeRank(e[j]);
      int before = causeRank(e[j - 1]);
      bool tie = e[j].time - e[j - 1].time < kTieSeconds;
      if (rank < 0 || before < 0 || !tie || before <= rank) break;
      std::swap(e[j], e[j - 1]);
    }
  }
}

}  // namespace

cDemoPrinter::cDemoPrinter(cDemoWatch& watch, const cBench& bench)
    : mWatch(watch),
      mBench(bench),
      mHoldSeconds(kHoldDaemonSeconds / bench.speed() + kHoldRealSeconds) {}

cDemoPrinter::~cDemoPrinter() {
  stop();
}

void cDemoPrinter::start() {
  if (!mThread.joinable()) mThread = std::thread(&cDemoPrinter::run, this);
}

void cDemoPrinter::stop() {
  if (!mThread.joinable()) return;
  mStop = true;
  mThread.join();
  mWatch.update();
  printDue(1e300);
}

void cDemoPrinter::run() {
  const timespec step = {0, kPollNs};
  while (!mStop) {
    mWatch.update();
    printDue(cBench::now() - mHoldSeconds);
    nanosleep(&step, nullptr);
  }
}

void cDemoPrinter::printDue(double upTo) {
  std::vector<cDemoEvent> fresh = mWatch.eventsFrom(mNext);
  mNext += fresh.size();
  mHeld.insert(mHeld.end(), fresh.begin(), fresh.end());
  std::stable_sort(mHeld.begin(), mHeld.end(),
                   [](const cDemoEvent& a, const cDemoEvent& b) { return a.time < b.time; });
  settleTies(&mHeld);
  size_t due = 0;
  while (due < mHeld.size() && mHeld[due].time <= upTo) {
    cDemoOut::print("%s\n", format(mHeld[due]).c_str());
    ++due;
  }
  mHeld.erase(mHeld.begin(), mHeld.begin() + static_cast<long>(due));
}

std::string cDemoPrinter::format(const cDemoEvent& event) const {
  char time[32];
  std::snprintf(time, sizeof time, "%8.1f s  ", mBench.daemonSeconds(event.time));
  std::string who = event.who;
  who.resize(std::max<size_t>(who.size(), 7), ' ');
  return time + who + " " + event.text;
}
