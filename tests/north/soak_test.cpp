// The soak's messages. The relay of thousands of them both ways at once through the real daemon
// is tested end to end with ferrycat at both ends (tests/ferrycat/relay_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>

#include "bench/soak/cSoak.h"

namespace {

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
