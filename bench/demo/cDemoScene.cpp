#include "bench/demo/cDemoScene.h"

#include <time.h>

#include "bench/cBench.h"
#include "bench/cBenchSteps.h"

cDemoScene::cDemoScene(cBench& bench, cDemoWatch& watch, cDemoChecks& checks)
    : mBench(bench), mWatch(watch), mChecks(checks) {}

void cDemoScene::say(const std::string& who, const std::string& text) {
  mWatch.note(who, text);
}

void cDemoScene::dwell(double daemonSeconds) {
  mBench.sleepDaemon(daemonSeconds);
}

bool cDemoScene::waitLeds(const std::string& view, double since, double daemonSeconds) {
  const timespec step = {0, 20L * 1000 * 1000};
  double deadline = cBench::now() + mBench.realMs(daemonSeconds, cBenchSteps::kMarginMs) / 1000.0;
  for (;;) {
    mWatch.update();
    std::vector<cDemoLeds::cChange> changes = mWatch.ledChanges();
    if (!changes.empty() && changes.back().view == view && changes.back().time >= since)
      return true;
    if (cBench::now() > deadline) return false;
    nanosleep(&step, nullptr);
  }
}

std::string cDemoScene::ledsSince(double since) const {
  std::vector<std::string> views;
  for (const cDemoLeds::cChange& c : mWatch.ledChanges()) {
    if (c.time >= since) views.push_back(c.view);
  }
  return views.empty() ? "no change" : join(views, ", ");
}

std::vector<std::string> cDemoScene::commandsFrom(size_t from) const {
  std::vector<std::string> lines;
  std::vector<cSimModule::cCommand> commands = mBench.module().commands();
  for (size_t i = from; i < commands.size(); ++i) lines.push_back(commands[i].line);
  return lines;
}

size_t cDemoScene::commandCount() const {
  return mBench.module().commands().size();
}

int cDemoScene::logCount(const std::string& text) const {
  return mBench.logCount(text);
}

double cDemoScene::lastDaemonTime(const std::string& text) const {
  std::vector<cBenchLog::cLine> lines = mBench.log().matching(text);
  return lines.empty() ? -1 : lines.back().daemonTime;
}

std::string cDemoScene::join(const std::vector<std::string>& items, const std::string& separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}
