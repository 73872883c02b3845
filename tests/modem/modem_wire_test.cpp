// The bytes the driver puts on the serial line for a fixed set of messages, compared with a
// recorded table (tests/modem/wire_golden.txt: case, segment size, byte count, FNV-1a 64 of the
// bytes). The table was recorded from the per-frame path (one frameData and one write per
// segment); any change to segmentation, framing or the writes must leave every line equal.
// FERRYD_WIRE_GOLDEN_WRITE=<file> writes the table instead of comparing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/modem/cModemRig.h"
#include "tests/modem/cWireCases.h"

namespace {

uint64_t fnv1a64(const std::vector<uint8_t>& bytes) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (uint8_t b : bytes) {
    h ^= b;
    h *= 0x100000001b3ULL;
  }
  return h;
}

std::string goldenPath() {
  return std::string(FERRYD_SOURCE_DIR) + "/tests/modem/wire_golden.txt";
}

std::string readGolden() {
  std::ifstream in(goldenPath());
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ModemWire, BytesOnTheLineMatchTheRecordedTable) {
  cModemRig rig;
  ASSERT_TRUE(rig.enterBypass());
  rig.sim.recordRaw(true);
  std::ostringstream table;
  table << "# case segsize bytes fnv1a64\n";
  size_t delivered = rig.sim.messages().size();
  for (const cWireCase& c : wireCases()) {
    for (int segSize : {256, 1021}) {
      rig.sim.clearRawBypassBytes();
      sendSouthbound(*rig.modem, c.id, c.payload, segSize);
      ASSERT_TRUE(rig.sim.waitForMessages(++delivered, 10000)) << c.name << " " << segSize;
      std::vector<uint8_t> raw = rig.sim.rawBypassBytes();
      char line[160];
      snprintf(line, sizeof line, "%s %d %zu %016llx\n", c.name.c_str(), segSize, raw.size(),
               static_cast<unsigned long long>(fnv1a64(raw)));
      table << line;
      EXPECT_EQ(rig.sim.messages().back(), c.payload) << c.name << " " << segSize;
    }
  }
  EXPECT_EQ(rig.sim.droppedFrames(), 0u);
  const char* writeTo = getenv("FERRYD_WIRE_GOLDEN_WRITE");
  if (writeTo != nullptr) {
    std::ofstream(writeTo) << table.str();
    return;
  }
  EXPECT_EQ(table.str(), readGolden());
}

}  // namespace
