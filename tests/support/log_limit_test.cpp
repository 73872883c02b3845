#include <gtest/gtest.h>
#include <time.h>

#include <stdexcept>
#include <string>

#include "support/cLogLimit.h"
#include "support/cLoopGuard.h"
#include "tests/common/cLogCapture.h"
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

// A thread's step that throws is abandoned and said, never let out of the loop (out of a thread's
// start routine it would end the process); the next step runs. A run of them is said a few times.
TEST(LoopGuard, ThrownStepsAreSaidAndTheLoopGoesOn) {
  cLogCapture log;
  cYlog owner("cOwner");
  cLoopGuard guard(owner, "worker");
  guard.run([] { throw std::bad_alloc(); });
  guard.run([] { throw std::runtime_error("gone wrong"); });
  guard.run([] { throw 42; });
  int done = 0;
  guard.run([&] { ++done; });
  EXPECT_EQ(1, done);
  auto lines = log.matching("worker thread: ", "cOwner");
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("ERROR", lines[0].level);
  EXPECT_EQ("worker thread: out of memory; the work in hand was dropped, the thread goes on",
            lines[0].message);
  EXPECT_NE(std::string::npos, lines[1].message.find("worker thread: gone wrong;"));
  EXPECT_NE(std::string::npos, lines[2].message.find("worker thread: unknown exception;"));
  for (int i = 0; i < 20; ++i) guard.run([] { throw 1; });
  EXPECT_EQ(cLogLimit::kDefaultBurst, log.count("worker thread: "));
}

}  // namespace
