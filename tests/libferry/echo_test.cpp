// The C echo peer (examples/echo_peer.c) on the simulated module's air side of the real daemon:
// every message the broker sends comes back to it whole, once and in order.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "bench/cBench.h"
#include "bench/cBenchSteps.h"
#include "tests/libferry/cCodecTest.h"

namespace {

// The example as a child (under the cross emulator on ARM builds), its stderr in a file.
class cChild {
 public:
  cChild(const std::vector<std::string>& args, const std::string& errPath) {
    std::vector<std::string> texts;
#if defined(FERRYD_EMULATOR)
    texts = {FERRYD_EMULATOR, "-L", FERRYD_EMULATOR_ROOT};
#endif
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& t : texts) argv.push_back(&t[0]);
    argv.push_back(nullptr);
    mPid = fork();
    if (mPid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~cChild() {
    if (mPid > 0) kill(mPid, SIGKILL), waitpid(mPid, nullptr, 0);
  }
  // The exit status, or -1 while it runs.
  int poll() {
    int status;
    if (mPid <= 0 || waitpid(mPid, &status, WNOHANG) != mPid) return -1;
    mPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t mPid;
};

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(EchoPeer, EchoesEveryMessageThroughTheDaemon) {
  cBenchOptions o;
  o.speed = 20;
  o.logLevel = "INFO";
  cBench bench(o);
  std::string air = bench.module().enableAir();
  ASSERT_TRUE(bench.start());
  ASSERT_TRUE(
      bench.module().waitForCommand("DefaultLocalName", bench.realMs(15, cBenchSteps::kMarginMs)));
  usleep(300 * 1000);  // the reply is taken and the command withdrawn
  bench.module().enterBypass();

  const int count = 40;
  std::string err = bench.configPath() + ".echo-err";
  cChild echo({ECHO_PEER_BINARY, air, "115200", std::to_string(count)}, err);
  for (int i = 0; i < 300 && readAll(err).find("open at") == std::string::npos; ++i)
    usleep(100 * 1000);
  ASSERT_NE(std::string::npos, readAll(err).find("open at")) << readAll(err);

  ASSERT_TRUE(bench.broker().waitForPeer(cBenchSteps::kMarginMs));
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> m = cCodecTest::awkward(1 + (i * 2477) % 10000, unsigned(i));
    if (i % 5 == 0) m.insert(m.begin(), {'A', 'T', '-', 'A', 'B', 0x7E, 0x7D});
    sent.push_back(m);
    ASSERT_GT(bench.broker().sendMessage(i % 128, m), 0);
    ASSERT_TRUE(bench.broker().waitForMessages(size_t(i + 1), 30000)) << "message " << i;
  }
  std::vector<cSimBroker::cMessage> got = bench.broker().messages();
  ASSERT_EQ(size_t(count), got.size());
  for (int i = 0; i < count; ++i) EXPECT_EQ(sent[size_t(i)], got[size_t(i)].payload) << i;
  int status = -1;
  for (int i = 0; i < 100 && status < 0; ++i, usleep(100 * 1000)) status = echo.poll();
  EXPECT_EQ(0, status) << readAll(err);
  EXPECT_NE(std::string::npos, readAll(err).find("40 messages echoed, 0 bad frames"));
}

}  // namespace
