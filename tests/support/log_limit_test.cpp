#include <gtest/gtest.h>
#include <time.h>

#include "support/cLogLimit.h"

namespace {

// A burst passes, the rest of the interval is held back and counted, and the first report of
// the next interval says how many were held.
TEST(LogLimit, BurstPassesTheRestIsCountedInTheNextReport) {
  cLogLimit limit(1, 2);
  EXPECT_TRUE(limit.pass());
  EXPECT_EQ("", limit.held());
  EXPECT_TRUE(limit.pass());
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(limit.pass());
  timespec wait = {2, 0};  // a whole second boundary is crossed whatever the start
  nanosleep(&wait, nullptr);
  EXPECT_TRUE(limit.pass());
  EXPECT_EQ(" (5 more since the last report)", limit.held());
  EXPECT_TRUE(limit.pass());
  EXPECT_EQ("", limit.held());
  EXPECT_FALSE(limit.pass());
}

}  // namespace
