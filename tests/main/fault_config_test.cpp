// Configuration files that are not what they should be, on the real daemon: it starts, says what
// it made of the file in a few lines, and relays with the keys it could read.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>

#include "tests/link/faultTest.h"

namespace {

std::string randomText(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(rng() & 0xFF);
  return out;
}

std::string repeated(const std::string& line, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += line;
  return out;
}

// The file the daemon reads: before, the bench's own configuration, after.
struct cConfigFault {
  const char* name;
  std::string before;
  std::string after;
  const char* said;  // part of a line the daemon must log about it
  int maxLines;
};

const cConfigFault kConfigFaults[] = {
    {"BinaryFile", randomText(64 * 1024, 1), randomText(64 * 1024, 2) + "\n", "malformed line", 12},
    {"VeryLongLines", "no.such.key = " + std::string(1 << 20, 'v') + "\n",
     std::string(256 << 10, 'w') + "\n", "malformed line", 3},
    {"KeyRepeatedThousandsOfTimes", repeated("ferryd.io.segsize = 100\n", 20000),
     repeated("zam.broker.retry = 1\n", 20000), "unknown key zam.broker.retry", 1},
};

void PrintTo(const cConfigFault& f, std::ostream* os) {
  *os << f.name;
}

class ConfigFaultTest : public cFaultTest, public ::testing::WithParamInterface<cConfigFault> {};

TEST_P(ConfigFaultTest, StartsSaysWhatItReadAndRelays) {
  const cConfigFault& f = GetParam();
  cBenchOptions o;
  o.speed = 20;
  cBench& b = launch(o);
  std::ifstream in(b.configPath());
  std::stringstream own;
  own << in.rdbuf();
  std::string path = b.writeFile("fault.conf", f.before + "\n" + own.str() + f.after);
  ASSERT_TRUE(b.start({path}));
  ASSERT_TRUE(cBenchSteps::waitStartup(b)) << b.daemonOutput();
  ASSERT_TRUE(cBenchSteps::waitNorth(b));
  EXPECT_TRUE(b.waitForLog("Configuration read from " + path, 1, 1000));
  EXPECT_GE(b.logCount(f.said), 1) << f.said;
  ASSERT_TRUE(cBenchSteps::connectPeer(b));
  size_t fromStart = 0;
  std::swap(fromStart, mFrom);
  mark();
  mFrom = fromStart;  // what the daemon said about the file counts
  expectRecovered(f.name, f.maxLines);
}

INSTANTIATE_TEST_SUITE_P(Faults, ConfigFaultTest, ::testing::ValuesIn(kConfigFaults),
                         [](const ::testing::TestParamInfo<cConfigFault>& i) {
                           return i.param.name;
                         });

// A file that opens but cannot be read: said as such (not "read"), and the defaults are used.
TEST(ConfigUnreadable, AReadErrorIsSaidAndTheDefaultsUsed) {
  cBench b;
  ASSERT_TRUE(b.start({"/proc/self/mem"}));  // opens; reading its first page fails (EIO)
  ASSERT_TRUE(b.waitForOutput("/proc/self/mem", 10000));
  usleep(300 * 1000);
  std::string out = b.daemonOutput();
  EXPECT_NE(std::string::npos, out.find("could not be read")) << out;
  EXPECT_EQ(std::string::npos, out.find("Configuration read from")) << out;
  EXPECT_TRUE(b.running());
  printf("FAULT UnreadableFile | %s\n", out.substr(0, 300).c_str());
}

// Permissions only stop a reader that is not root.
TEST(ConfigUnreadable, AFileWithoutReadPermissionIsSaidAndTheDefaultsUsed) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
  cBench b;
  std::string path = b.writeFile("locked.conf", "ferryd.io.btname = Locked\n");
  ASSERT_EQ(0, chmod(path.c_str(), 0));
  ASSERT_TRUE(b.start({path}));
  ASSERT_TRUE(b.waitForOutput(path, 10000));
  usleep(300 * 1000);
  EXPECT_NE(std::string::npos, b.daemonOutput().find("could not be opened")) << b.daemonOutput();
  EXPECT_TRUE(b.running());
}

}  // namespace
