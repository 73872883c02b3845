#include "bench/demo/cDemoSummary.h"

#include <map>
#include <string>

#include "bench/cBench.h"
#include "bench/demo/cDemoOut.h"
#include "bench/demo/cDemoText.h"
#include "bench/demo/cDemoWatch.h"

namespace cDemoSummary {

namespace {

// "EnableBond x2, DisableBond x1, ..." by the command's second word, in order of first use.
std::string commandTally(const std::vector<cSimModule::cCommand>& commands) {
  std::vector<std::string> order;
  std::map<std::string, int> counts;
  for (const cSimModule::cCommand& c : commands) {
    size_t start = c.line.find(' ');
    std::string word = start == std::string::npos ? c.line : c.line.substr(start + 1);
    word = word.substr(0, word.find(' '));
    if (counts[word]++ == 0) order.push_back(word);
  }
  std::string out;
  for (const std::string& w : order) {
    out += (out.empty() ? "" : ", ") + w + " x" + std::to_string(counts[w]);
  }
  return out;
}

void printDirection(const std::vector<cDemoRelay>& relays, bool north) {
  size_t messages = 0, bytes = 0, units = 0;
  for (const cDemoRelay& r : relays) {
    if (r.north != north) continue;
    ++messages;
    bytes += r.payload.size();
    units += r.units;
  }
  cDemoOut::print("  messages %s: %zu, %zu bytes, in %s\n",
                  north ? "peer -> broker" : "broker -> peer", messages, bytes,
                  cDemoText::count(units, north ? "datagram" : "segment").c_str());
}

}  // namespace

void printCounts(cBench& bench, const cDemoWatch& watch) {
  std::vector<cSimModule::cCommand> commands = bench.module().commands();
  int inBypass = 0;
  for (const cSimModule::cCommand& c : commands) inBypass += c.inBypass ? 1 : 0;
  std::string bypass =
      inBypass ? ", " + std::to_string(inBypass) + " of them inside the bypass stream" : "";
  cDemoOut::print("  AT commands the module received: %zu (%s)%s\n", commands.size(),
                  commandTally(commands).c_str(), bypass.c_str());
  cDemoOut::print("  link state changes: %d\n", watch.stateChanges());
  std::string views;
  for (const cDemoLeds::cChange& c : watch.ledChanges()) {
    views += (views.empty() ? "" : " -> ") + c.view;
  }
  cDemoOut::print("  LED views: %zu (%s)\n", watch.ledChanges().size(), views.c_str());
  printDirection(watch.relays(), false);
  printDirection(watch.relays(), true);
}

void printLogTail(const cBench& bench, size_t lines) {
  std::vector<cBenchLog::cLine> log = bench.log().lines();
  size_t from = log.size() > lines ? log.size() - lines : 0;
  cDemoOut::print("the daemon's last log lines (daemon seconds):\n");
  for (size_t i = from; i < log.size(); ++i) {
    const cBenchLog::cLine& l = log[i];
    cDemoOut::print("  %8.3f %-5s %s: %s\n", l.daemonTime, l.level.c_str(), l.category.c_str(),
                    cDemoText::oneLine(l.message).c_str());
  }
}

}  // namespace cDemoSummary
