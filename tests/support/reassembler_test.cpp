#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "support/cReassembler.h"
#include "support/cYlog.h"
#include "tests/common/cLogCapture.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes unit(int id, int index, bool last, const Bytes& payload) {
  Bytes u(5 + payload.size());
  u[0] = static_cast<unsigned char>(id | (last ? 0x80 : 0));
  u[1] = static_cast<unsigned char>(index & 0xFF);
  u[2] = static_cast<unsigned char>(index >> 8);
  u[3] = static_cast<unsigned char>(payload.size() & 0xFF);
  u[4] = static_cast<unsigned char>(payload.size() >> 8);
  std::copy(payload.begin(), payload.end(), u.begin() + 5);
  return u;
}

Bytes truncated(Bytes u) {
  u.pop_back();
  return u;
}

// Each reassembly rule once: the units of a row go to a fresh reassembler; only the last one may
// complete a message. The drop counters are checked against a model by the fuzz target; here the
// warnings, which name the direction under the owner's category.
TEST(Reassembler, EachRuleWithItsWarning) {
  const struct {
    const char* rule;
    Bytes whole;  // the message the last unit completes; none when empty
    int warnings;
    const char* text;
    std::vector<Bytes> units;
  } rows[] = {
      {"one segment", {1, 2, 3}, 0, nullptr, {unit(5, 0, true, {1, 2, 3})}},
      {"in order",
       {1, 2, 3, 4, 5},
       0,
       nullptr,
       {unit(7, 0, false, {1, 2}), unit(7, 1, false, {3}), unit(7, 2, true, {4, 5})}},
      {"invalid units leave the partial message",
       {1, 2},
       2,
       "From module: invalid segment of 7 bytes dropped",
       {unit(3, 0, false, {1}), truncated(unit(3, 1, true, {2, 3, 4})), Bytes{0x83, 0},
        unit(3, 1, true, {2})}},
      {"index 0 starts a new message",
       {2, 3},
       1,
       "From module: partial message 1 dropped after 1 segments: a new message started",
       {unit(1, 0, false, {1}), unit(2, 0, false, {2}), unit(2, 1, true, {3})}},
      {"a one-segment message of the same id replaces the partial one",
       {8},
       1,
       "partial message 4 dropped",
       {unit(4, 0, false, {1}), unit(4, 0, true, {8})}},
      {"a skipped index drops both",
       {},
       1,
       "segment 2 arrived, segment 1 was expected",
       {unit(6, 0, false, {1}), unit(6, 2, true, {3})}},
      {"a repeated segment is a wrong index",
       {},
       1,
       "segment 1 arrived, segment 2 was expected",
       {unit(6, 0, false, {1}), unit(6, 1, false, {2}), unit(6, 1, true, {2})}},
      {"a foreign segment is dropped, the partial message stays",
       {1, 2},
       1,
       "segment 1 of message 11 dropped: message 10 is being collected",
       {unit(10, 0, false, {1}), unit(11, 1, true, {9}), unit(10, 1, true, {2})}},
      {"the tail of a lost start",
       {},
       2,
       "segment 2 of message 12 dropped: the start of its message was lost",
       {unit(12, 1, false, {1}), unit(12, 2, true, {2})}},
      {"65535 bytes at most",
       {},
       1,
       "would exceed 65535 bytes",
       {unit(20, 0, false, Bytes(65530, 0x5A)), unit(20, 1, false, Bytes(5, 1)),
        unit(20, 2, true, Bytes(1, 2))}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.rule);
    cLogCapture log;
    cYlog owner("cBTMsg");
    cReassembler r(owner, "module");
    std::unique_ptr<YMsg> m;
    for (const Bytes& u : row.units) {
      EXPECT_FALSE(m);
      m.reset(r.onUnit(u.data(), static_cast<int>(u.size())));
    }
    ASSERT_EQ(!row.whole.empty(), m != nullptr);
    if (m) {
      EXPECT_EQ(row.whole, m->payload());
    }
    EXPECT_FALSE(r.hasPending());
    int warnings = 0;
    for (const auto& rec : log.matching("From module: ", "cBTMsg")) warnings += rec.level == "WARN";
    EXPECT_EQ(row.warnings, warnings);
    if (row.text != nullptr) {
      EXPECT_EQ(1, log.count(row.text, "cBTMsg"));
    }
  }
}

// A partial message waits for its next segment; input that is no unit at all changes nothing.
TEST(Reassembler, NoBytesOrANegativeLengthIsAnInvalidUnit) {
  cLogCapture log;
  cYlog owner("cBTMsg");
  cReassembler r(owner, "module");
  Bytes first = unit(3, 0, false, {1});
  EXPECT_EQ(nullptr, r.onUnit(first.data(), static_cast<int>(first.size())));
  EXPECT_EQ(nullptr, r.onUnit(nullptr, 0));
  EXPECT_EQ(nullptr, r.onUnit(first.data(), -1));
  EXPECT_TRUE(r.hasPending());
  EXPECT_EQ(2, log.count("invalid segment of", "cBTMsg"));
}

}  // namespace
