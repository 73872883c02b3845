#include <gtest/gtest.h>

#include <string>

#include "support/cStats.h"

namespace {

// The summary names every counter of each direction, in a fixed order, with totals since start.
TEST(Stats, SummaryNamesEveryCounterPerDirection) {
  EXPECT_EQ(
      "Counters: south messages=0 bytes=0 invalid=0 stale=0 lost-start=0 out-of-order=0 "
      "oversize=0 command-mode=0 failed-send=0 out-of-memory=0 overflow=0; north messages=0 "
      "bytes=0 "
      "invalid=0 stale=0 lost-start=0 out-of-order=0 oversize=0 bad-fcs=0 oversize-frame=0 "
      "aborted-frame=0 failed-send=0 out-of-memory=0; at-timeouts=0",
      cStats::summary());
  cStats::add(cStats::kSouth, cStats::kMessages);
  cStats::add(cStats::kSouth, cStats::kBytes, 70000);
  cStats::add(cStats::kSouth, cStats::kCommandMode, 2);
  cStats::add(cStats::kNorth, cStats::kBadFcs);
  cStats::add(cStats::kNorth, cStats::kFailedWrites, 3);
  cStats::addAtTimeout();
  std::string s = cStats::summary();
  EXPECT_NE(std::string::npos, s.find("south messages=1 bytes=70000 invalid=0")) << s;
  EXPECT_NE(std::string::npos, s.find("command-mode=2 failed-send=0")) << s;
  EXPECT_NE(std::string::npos, s.find("bad-fcs=1 oversize-frame=0")) << s;
  EXPECT_NE(std::string::npos, s.find("aborted-frame=0 failed-send=3")) << s;
  EXPECT_NE(std::string::npos, s.find("; at-timeouts=1")) << s;
  EXPECT_EQ(3u, cStats::get(cStats::kNorth, cStats::kFailedWrites));
  EXPECT_EQ(0u, cStats::get(cStats::kSouth, cStats::kFailedWrites));
}

// A summary is due once the interval has passed since the last check that was due, and only
// when a counter moved since the last summary; an interval of 0 never gives one.
TEST(Stats, SummaryDueEveryIntervalWhenSomethingChanged) {
  cStats every(600, 1000);
  cStats never(0, 1000);
  std::string line;
  struct {
    int64_t now;
    bool change;  // a counter moves before the check
    bool due;
  } rows[] = {
      {1001, true, false},   // too early
      {1599, false, false},  // still too early
      {1600, false, true},   // the change at 1001
      {1700, true, false},   // too early for the change at 1700
      {2200, false, true},   // 600 s after the last summary
      {2800, false, false},  // nothing changed
      {2900, true, false},   // the skipped check at 2800 counts as one
      {3400, false, true},
  };
  for (const auto& row : rows) {
    if (row.change) cStats::add(cStats::kNorth, cStats::kMessages);
    line.clear();
    EXPECT_EQ(row.due, every.due(row.now, &line)) << row.now;
    EXPECT_EQ(row.due, !line.empty()) << row.now;
    if (row.due) {
      EXPECT_EQ(cStats::summary(), line);
    }
    EXPECT_FALSE(never.due(row.now, &line));
  }
}

}  // namespace
