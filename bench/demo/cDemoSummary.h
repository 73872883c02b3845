#pragma once

#include <cstddef>

class cBench;
class cDemoWatch;

// The counts at the end of a run: AT commands the module received, link state changes, LED view
// changes, and the messages and bytes relayed each way.
namespace cDemoSummary {

void printCounts(cBench& bench, const cDemoWatch& watch);
// The last lines of the daemon's log, for a run that went wrong.
void printLogTail(const cBench& bench, size_t lines);

}  // namespace cDemoSummary
