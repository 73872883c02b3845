#include <gtest/gtest.h>
#include <time.h>

#include <string>

#include "support/cLogLimit.h"
#include "tests/common/cTestNew.h"

namespace {

// A burst passes, the rest of the interval is held back and counted, and the first report of
// the next interval says how many were held. The text takes no memory: a warning built while a
// caller holds a turn or a lock cannot fail for lack of it.
TEST(LogLimit, BurstPassesTheRestIsCountedInTheNextReport) {
  cLogLimit limit(1, 2);
  EXPECT_TRUE(limit.pass());
  EXPECT_EQ(std::string(), limit.held());
  EXPECT_TRUE(limit.pass());
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(limit.pass());
  timespec wait = {2, 0};  // a whole second boundary is crossed whatever the start
  nanosleep(&wait, nullptr);
  EXPECT_TRUE(limit.pass());
  long before = cTestNew::allocations();
  auto&& text = limit.held();
  EXPECT_EQ(before, cTestNew::allocations()) << "building the held-back text took memory";
  EXPECT_EQ(std::string(" (5 more since the last report)"), text);
  EXPECT_TRUE(limit.pass());
  EXPECT_EQ(std::string(), limit.held());
  EXPECT_FALSE(limit.pass());
}

}  // namespace
