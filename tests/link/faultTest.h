#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench/cBenchProc.h"
#include "bench/cBenchWire.h"
#include "tests/link/benchTest.h"

// A fault on the real daemon: bring the board up, note the daemon's memory and where its log
// stands, inflict the fault, then check that the daemon is still running, said what happened in
// few lines (never one per bad input), kept its memory bounded, is idle, and relays both ways.
class cFaultTest : public cBenchTest {
 protected:
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // ASan holds up to 256 MB of freed memory in its quarantine before it reuses any, so here the
  // bound only catches a runaway; the plain and ARM builds check the tight one.
  static constexpr long kMemSlackKb = 384 * 1024;
  static constexpr double kIdleCpu = 0.12;
#else
  static constexpr long kMemSlackKb = 4 * 1024;
  static constexpr double kIdleCpu = 0.06;  // seconds over kIdleSeconds: the ticks at x20
#endif
  static constexpr double kIdleSeconds = 1.0;
  static constexpr int kMargin = cBenchSteps::kMarginMs;

  // The board up as cBenchTest::bringUp brings it; the fault counts from here.
  cBench& bringUp(cBenchOptions o = {}, bool connect = true) {
    cBench& b = cBenchTest::bringUp(std::move(o), connect);
    mark();
    return b;
  }

  // From here on the fault counts.
  void mark() {
    bench().log().sync();
    mFrom = bench().log().size();
    mMemBeforeKb = cBenchProc::privateKb(bench().pid());
  }

  // WARN, ERROR and FATAL lines since mark(), each distinct text (digits ignored) with its count.
  std::map<std::string, int> complaints() {
    bench().log().sync();
    std::vector<cBenchLog::cLine> lines = bench().log().lines();
    std::map<std::string, int> out;
    for (size_t i = mFrom; i < lines.size(); ++i) {
      const cBenchLog::cLine& l = lines[i];
      if (l.level != "WARN" && l.level != "ERROR" && l.level != "FATAL") continue;
      std::string key = l.message.substr(0, 100);
      for (char& c : key)
        if (c >= '0' && c <= '9') c = '#';
      ++out[l.category + ": " + key];
    }
    return out;
  }
  int complaintCount() {
    int n = 0;
    for (const auto& c : complaints()) n += c.second;
    return n;
  }
  bool complained(const std::string& text) {
    for (const auto& c : complaints())
      if (c.first.find(text) != std::string::npos) return true;
    return false;
  }

  // The checks after a fault: running, at most maxLines complaints, memory within the slack,
  // idle, relaying both ways (connecting the peer first when it is not connected). Prints one
  // summary line for the record.
  void expectRecovered(const std::string& fault, int maxLines) {
    cBench& b = bench();
    ASSERT_TRUE(b.running()) << fault << ": the daemon ended\n" << b.daemonOutput();
    long memAfter = cBenchProc::privateKb(b.pid());
    double idle = cBenchProc::cpuOver(b.pid(), kIdleSeconds);
    int lines = complaintCount();
    EXPECT_LE(lines, maxLines) << fault << ": " << describe();
    EXPECT_LE(memAfter, mMemBeforeKb + kMemSlackKb) << fault;
    EXPECT_LE(idle, kIdleCpu) << fault << ": the daemon is busy while idle";
    bool relayed = relaysBothWays();
    EXPECT_TRUE(relayed) << fault;
    printf("FAULT %s | %s | %ld kB -> %ld kB | idle CPU %.2f s/%.1f s | recovered %s\n",
           fault.c_str(), describe().c_str(), mMemBeforeKb, memAfter, idle, kIdleSeconds,
           relayed ? "yes" : "no");
  }

  // The daemon's periodic summary: the value of a counter of a direction ("south", "north") in
  // the last "Counters:" line (since mark() when sinceMark); -1 when there is none.
  long counter(const std::string& direction, const std::string& name, bool sinceMark = true) {
    std::string line = lastCounters(sinceMark ? mFrom : 0);
    size_t at = line.find(direction + " ");
    if (at == std::string::npos) return -1;
    at = line.find(" " + name + "=", at);
    if (at == std::string::npos) return -1;
    return std::stol(line.substr(at + name.size() + 2));
  }
  std::string lastCounters(size_t from) {
    std::vector<cBenchLog::cLine> lines = bench().log().lines();
    for (size_t i = lines.size(); i-- > from;)
      if (lines[i].message.compare(0, 9, "Counters:") == 0) return lines[i].message;
    return "";
  }
  // Waits up to two summary intervals of 10 daemon seconds for the counter to pass above.
  bool waitCounter(const std::string& direction, const std::string& name, long above) {
    double end = cBench::now() + bench().realMs(25, kMargin) / 1000.0;
    while (cBench::now() < end) {
      if (counter(direction, name) > above) return true;
      usleep(50 * 1000);
    }
    return false;
  }

  std::string describe() {
    std::string out;
    for (const auto& c : complaints())
      out += (out.empty() ? "" : "; ") + std::to_string(c.second) + "x " + c.first;
    return out.empty() ? "(nothing at WARN or above)" : out;
  }

  // One message each way through the daemon.
  bool relaysBothWays() {
    cBench& b = bench();
    if (!b.module().inBypass() && !cBenchSteps::connectPeer(b)) return false;
    size_t atPeer = b.module().messages().size();
    size_t atBroker = b.broker().messages().size();
    std::vector<uint8_t> south = cBenchWire::payload(700, ++mSeed);
    std::vector<uint8_t> north = cBenchWire::payload(1500, ++mSeed);
    if (b.broker().sendMessage(mSeed & 0x7F, south) <= 0) return false;
    b.module().sendMessage(mSeed & 0x7F, north, 256);
    if (!b.module().waitForMessages(atPeer + 1, b.realMs(2, kMargin))) return false;
    if (!b.broker().waitForMessages(atBroker + 1, b.realMs(2, kMargin))) return false;
    return b.module().messages().back() == south && b.broker().messages().back().payload == north;
  }

  size_t mFrom = 0;
  long mMemBeforeKb = 0;
  int mSeed = 0;
};
