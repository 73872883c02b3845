// A short soak: a few thousand messages both ways at once through the real daemon, every one
// checked at the far end.
#include <gtest/gtest.h>

#include "bench/soak/cSoak.h"

namespace {

TEST(Soak, ThousandsOfMessagesBothWaysArriveWholeOnceAndInOrder) {
  cSoakOptions o;
  o.count = 2000;
  o.seed = 7;
  o.speed = 20;  // only the module's set-up at start waits on the daemon's clock
  cSoakResult r = cSoak(o).run();
  std::string report = cSoak::report(r);
  ASSERT_TRUE(r.started) << report;
  EXPECT_TRUE(r.failure.empty()) << report;
  for (const cSoakCount* c : {&r.south, &r.north}) {
    EXPECT_EQ(o.count, c->sent) << report;
    EXPECT_EQ(o.count, c->received) << report;
    EXPECT_EQ(0, c->lost) << report;
    EXPECT_EQ(0, c->corrupted) << report;
    EXPECT_EQ(0, c->duplicated) << report;
  }
  printf("%s", report.c_str());
}

// The checker itself: the messages carry the bytes that matter to the line and differ by index.
TEST(Soak, MessagesCoverTheSpecialBytesAndDifferByIndex) {
  size_t at = 0, flags = 0, escapes = 0, longest = 0;
  for (long i = 0; i < 200; ++i) {
    std::vector<uint8_t> m = cSoak::message(3, 0, i, 10000);
    longest = std::max(longest, m.size());
    std::string text(m.begin(), m.end());
    at += text.find("AT-AB") != std::string::npos;
    flags += std::count(m.begin(), m.end(), 0x7E) > 0;
    escapes += std::count(m.begin(), m.end(), 0x7D) > 0;
    EXPECT_GE(m.size(), 1u);
    EXPECT_LE(m.size(), 10000u);
    EXPECT_EQ(m, cSoak::message(3, 0, i, 10000));
    EXPECT_NE(m, cSoak::message(3, 1, i, 10000));
  }
  EXPECT_GT(at, 150u);
  EXPECT_GT(flags, 150u);
  EXPECT_GT(escapes, 150u);
  EXPECT_GT(longest, 9000u);
}

}  // namespace
