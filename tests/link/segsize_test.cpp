// "ferryd.io.segsize" on the real daemon: one message from the broker reaches the peer whole, in
// segments of the size configured, or of the default 256 with a warning naming the key, the value
// and the default when the value is outside 6 to 1021 bytes.
#include <algorithm>
#include <ostream>

#include "bench/cBenchWire.h"
#include "tests/link/benchTest.h"

namespace {

struct cSegSize {
  const char* name;
  const char* value;
  size_t payload;
  size_t largest;   // segments the peer receives: all of this size but the last
  size_t segments;  // how many
  size_t last;      // the size of the last one
  bool refused;     // the value is reported and 256 used
};

// Too small: no payload byte fits. Too large: one byte over the largest segment whose frame fits
// the modem's 2048-byte buffer. The limits themselves: 6-byte segments carry one payload byte
// each; 1021-byte segments fill the send buffer exactly.
const cSegSize kRows[] = {
    {"TooSmall", "5", 1000, 256, 4, 1000 + 4 * 5 - 3 * 256, true},
    {"TooLarge", "1022", 3000, 256, 12, 3000 + 12 * 5 - 11 * 256, true},
    {"Smallest", "6", 120, 6, 120, 6, false},
    {"Largest", "1021", 3000, 1021, 3, 3000 + 3 * 5 - 2 * 1021, false},
};

void PrintTo(const cSegSize& r, std::ostream* os) {
  *os << r.name;
}

class SegSizeTest : public cBenchTest, public ::testing::WithParamInterface<cSegSize> {};

TEST_P(SegSizeTest, SegmentsOfTheSizeInForce) {
  const cSegSize& r = GetParam();
  cBenchOptions o;
  o.keys.push_back({"ferryd.io.segsize", r.value});
  cBench& b = bringUp(o);
  std::vector<uint8_t> payload = cBenchWire::payload(r.payload, 9);
  ASSERT_GT(b.broker().sendMessage(9, payload), 0);
  ASSERT_TRUE(b.module().waitForMessages(1, b.realMs(2, cBenchSteps::kMarginMs)));
  EXPECT_EQ(payload, b.module().messages()[0]);
  std::vector<size_t> sizes = b.module().segmentSizes();
  ASSERT_EQ(r.segments, sizes.size());
  EXPECT_EQ(r.segments - 1,
            static_cast<size_t>(std::count(sizes.begin(), sizes.end() - 1, r.largest)));
  EXPECT_EQ(r.last, sizes.back());

  std::vector<cBenchLog::cLine> w = b.log().matching("ferryd.io.segsize", "cBTMsg");
  if (!r.refused) {
    EXPECT_TRUE(w.empty()) << w[0].message;
    return;
  }
  ASSERT_EQ(1u, w.size());
  EXPECT_EQ("WARN", w[0].level);
  EXPECT_NE(std::string::npos, w[0].message.find(std::string("= ") + r.value + " "))
      << w[0].message;
  EXPECT_NE(std::string::npos, w[0].message.find("default 256")) << w[0].message;
}

INSTANTIATE_TEST_SUITE_P(Values, SegSizeTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<cSegSize>& i) { return i.param.name; });

}  // namespace
