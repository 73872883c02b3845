#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "bench/cBench.h"
#include "bench/cBenchLeds.h"
#include "bench/cBenchSteps.h"

// A test on the real daemon: makes the bench, and at the end checks that the daemon is still
// running (it never ends by itself) and reported nothing through a sanitizer. On failure prints
// the end of the daemon's log.
class cBenchTest : public ::testing::Test {
 protected:
  cBench& launch(cBenchOptions options = {}) {
    mBench.reset(new cBench(std::move(options)));
    return *mBench;
  }
  cBench& start(cBenchOptions options = {}) {
    launch(std::move(options));
    EXPECT_TRUE(mBench->start());
    return *mBench;
  }
  cBench& bench() { return *mBench; }
  // The daemon at twenty times real speed, set up, the broker linked, the peer connected when
  // asked.
  cBench& bringUp(cBenchOptions o = {}, bool connect = true) {
    o.speed = 20;
    cBench& b = start(std::move(o));
    EXPECT_TRUE(cBenchSteps::waitStartup(b));
    EXPECT_TRUE(cBenchSteps::waitNorth(b));
    if (connect) {
      EXPECT_TRUE(cBenchSteps::connectPeer(b));
    }
    return b;
  }

  void TearDown() override {
    if (!mBench) return;
    EXPECT_TRUE(mBench->running()) << "the daemon ended:\n" << mBench->daemonOutput();
    mBench->stop();
    EXPECT_EQ("", mBench->sanitizerReport());
    if (HasFailure()) dumpLog();
  }

  void dumpLog() {
    std::vector<cBenchLog::cLine> lines = mBench->log().lines();
    size_t from = lines.size() > 80 ? lines.size() - 80 : 0;
    std::string text;
    for (size_t i = from; i < lines.size(); ++i) {
      const cBenchLog::cLine& l = lines[i];
      text += std::to_string(l.daemonTime) + " " + l.level + " " + l.category + ": " +
              l.message.substr(0, 120) + "\n";
    }
    fprintf(stderr, "last daemon log lines (daemon seconds):\n%s", text.c_str());
  }

  // Daemon time of the first log line at or after index from that contains text; -1 if none.
  double daemonTimeOf(const std::string& text, size_t from = 0) {
    int i = mBench->log().find(text, from);
    return i < 0 ? -1 : mBench->log().lines()[static_cast<size_t>(i)].daemonTime;
  }
  // Real time of the same line.
  double realTimeOf(const std::string& text, size_t from = 0) {
    int i = mBench->log().find(text, from);
    return i < 0 ? -1 : mBench->log().lines()[static_cast<size_t>(i)].time;
  }

  // Waits for n log lines containing text, lets the log catch up, then expects exactly n.
  void expectLogCount(int n, const std::string& text) {
    mBench->waitForLog(text, static_cast<size_t>(n), mBench->realMs(1, 2000));
    mBench->log().sync();
    EXPECT_EQ(n, mBench->logCount(text)) << text;
  }

  // Number of log lines whose whole message is message.
  int exactCount(const std::string& message) {
    int n = 0;
    for (const cBenchLog::cLine& l : mBench->log().lines()) n += l.message == message;
    return n;
  }

  int commandCount(const std::string& text) {
    int n = 0;
    for (const cSimModule::cCommand& c : mBench->module().commands())
      n += c.line.find(text) != std::string::npos;
    return n;
  }

  // What the LEDs showed between two real times.
  std::string leds(double from, double to) {
    return cBenchLeds::view(cBenchLeds::samples(mBench->gpio()), from, to);
  }

  std::unique_ptr<cBench> mBench;
};
