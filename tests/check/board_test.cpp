// ferryd --check on the simulated board, each finding as an integrator would meet it.
#include <fcntl.h>
#include <limits.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "bench/cBench.h"

namespace {

struct cCheckResult {
  int status;
  std::string out;
  double seconds;
  bool has(const std::string& text) const { return out.find(text) != std::string::npos; }
};

cCheckResult runCheck(cBench& b, std::vector<std::string> args) {
  args.insert(args.begin(), "--check");
  args.push_back(b.configPath());
  double start = cBench::now();
  EXPECT_TRUE(b.start(args));
  int status = b.waitExit(60000);
  return {status, b.daemonOutput(), cBench::now() - start};
}

bool systemdRuns() {
  struct stat st;
  return stat("/run/systemd/system", &st) == 0;
}

std::string commOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

}  // namespace

TEST(Check, AWellBoardPassesAndTheModuleShowsItself) {
  cBench b;
  cCheckResult r = runCheck(b, {"--as-me"});
  if (!systemdRuns()) {
    EXPECT_EQ(0, r.status) << r.out;  // with systemd, the unit may not be installed here
  }
  EXPECT_TRUE(
      r.has("module answers: firmware ABSIM-3.1.4, Bluetooth address 00:16:A4:B1:C2:D3, "
            "name Bramblefox"))
      << r.out;
  EXPECT_TRUE(r.has("pairing button: released")) << r.out;
  EXPECT_TRUE(r.has(": the broker listens")) << r.out;
  EXPECT_FALSE(r.has("FAIL")) << r.out;
  EXPECT_TRUE(b.gpio().writes().empty()) << "the check changed the board's state unasked";

  r = runCheck(b, {"--as-me", "--json"});
  std::istringstream lines(r.out);
  std::string line;
  int objects = 0;
  while (std::getline(lines, line)) {
    EXPECT_EQ("{\"part\":\"", line.substr(0, 9)) << line;
    EXPECT_EQ('}', line.back()) << line;
    ++objects;
  }
  EXPECT_GT(objects, 15);
  EXPECT_TRUE(r.has("{\"part\":\"serial\",\"status\":\"ok\",\"found\":\"module answers")) << r.out;
}

TEST(Check, EachFaultIsNamedWithItsFix) {
  cBenchOptions o;
  o.brokerHost = "no-such-host.invalid";
  o.keys = {{"ferryd.io.tyy", "/dev/ttyS1"},
            {"ferryd.io.segsize", "5000"},
            {"ferryd.io.btledr", "LED_RED"}};
  cBench b(o);
  b.module().setReply("config", cSimModule::cReply::Never);
  cCheckResult r = runCheck(b, {"--as-me"});
  EXPECT_EQ(1, r.status) << r.out;
  EXPECT_TRUE(
      r.has("no pin named LED_RED (ferryd.io.btledr); the device offers BT_PAIR, "
            "BT_RESET, LED_BT_RED, LED_BT_GREEN"))
      << r.out;
  EXPECT_TRUE(r.has("warn config  ferryd.io.tyy: unknown key, ignored")) << r.out;
  EXPECT_TRUE(r.has("-> did you mean ferryd.io.tty?")) << r.out;
  EXPECT_TRUE(r.has("FAIL config  ferryd.io.segsize = 5000 (")) << r.out;
  EXPECT_TRUE(r.has("outside 6 to 1021")) << r.out;
  EXPECT_TRUE(r.has("FAIL broker  no-such-host.invalid (zam.broker.host) does not resolve"))
      << r.out;
  EXPECT_TRUE(r.has("FAIL serial  no answer in 3 s to AT+AB config")) << r.out;
  EXPECT_TRUE(r.has("the reset line held")) << r.out;
  // The silent module costs its 3 s, not more; nothing else waits (10 s: room for emulation).
  EXPECT_LT(r.seconds, 10.0) << r.out;
}

// For a person watching the board: each LED lit for a second in turn, then the reset pulse.
TEST(Check, LedsAndResetArePulsedWhenAsked) {
  cBench b;
  cCheckResult r = runCheck(b, {"--as-me", "--leds", "--reset"});
  EXPECT_TRUE(r.has("red LED (LED_BT_RED): set for one second, then cleared")) << r.out;
  std::vector<std::pair<uint16_t, uint16_t>> seen;
  std::vector<double> times;
  for (const auto& call : b.gpio().writes()) {
    for (const cSimGpio::cWrite& w : call) {
      seen.push_back({w.pin, w.value});
      times.push_back(w.time);
    }
  }
  uint16_t red = b.gpio().pinId("LED_BT_RED"), green = b.gpio().pinId("LED_BT_GREEN");
  uint16_t reset = b.gpio().pinId("BT_RESET");
  std::vector<std::pair<uint16_t, uint16_t>> expected = {{red, 1},   {red, 0},   {green, 1},
                                                         {green, 0}, {reset, 1}, {reset, 0}};
  ASSERT_EQ(expected, seen);
  for (size_t i = 0; i < times.size(); i += 2) EXPECT_GE(times[i + 1] - times[i], 0.9) << i;
}

// The pseudo-terminal's slave is root's alone (mode 0600 or 0620): another user cannot open it.
TEST(Check, AccessIsJudgedForTheServiceUserNotTheCaller) {
  cBench b;
  cCheckResult r = runCheck(b, {"--user", "nobody"});
  EXPECT_EQ(1, r.status) << r.out;
  EXPECT_TRUE(r.has("ok   access  checked as the service's user, nobody")) << r.out;
  EXPECT_TRUE(r.has("nobody cannot open it read-write")) << r.out;

  r = runCheck(b, {"--user", "no-such-user-x"});
  EXPECT_TRUE(
      r.has("warn access  user no-such-user-x does not exist: access checked as the "
            "caller"))
      << r.out;
}

TEST(Check, ALineHeldByAnotherProgramIsNamedAndLeftAlone) {
  cBench b;
  pid_t holder = fork();
  if (holder == 0) {
    int fd = open(b.module().ttyPath().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0 || dup2(fd, STDIN_FILENO) < 0) _exit(1);
    execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(1);
  }
  ASSERT_GT(holder, 0);
  for (int i = 0; i < 200 && commOf(holder) != "sleep"; ++i) usleep(10000);
  cCheckResult r = runCheck(b, {"--as-me"});
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(1, r.status) << r.out;
  EXPECT_TRUE(r.has("is held by sleep (pid " + std::to_string(holder) + ")")) << r.out;
  EXPECT_TRUE(b.module().commands().empty()) << "the module was queried";
}

namespace {

// In a devpts instance of its own (as a booted container has), opens terminals up to number
// index and leaves that one's slave to a process called ferryd, its master to its parent.
// Runs in a child of the test: exits 2 when no private instance can be mounted (not root).
[[noreturn]] void holdTwin(int index, const char* slavePath, int report) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
      mount("devpts", "/dev/pts", "devpts", 0, "newinstance,ptmxmode=0600") != 0)
    _exit(2);
  int masters[64];
  for (int i = 0; i <= index; ++i) masters[i] = open("/dev/pts/ptmx", O_RDWR | O_NOCTTY);
  int unlock = 0, number = -1;
  if (ioctl(masters[index], TIOCSPTLCK, &unlock) != 0 ||
      ioctl(masters[index], TIOCGPTN, &number) != 0 || number != index)
    _exit(3);
  int slave = open(slavePath, O_RDWR | O_NOCTTY);
  pid_t holder = slave < 0 ? -1 : fork();
  if (holder == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (int i = 0; i <= index; ++i) close(masters[i]);
    dup2(slave, STDIN_FILENO);
    execl("/bin/sleep", "ferryd", "30", static_cast<char*>(nullptr));
    _exit(1);
  }
  if (holder < 0 || write(report, &holder, sizeof holder) != sizeof holder) _exit(4);
  close(slave);
  execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));  // keeps the masters
  _exit(1);
}

}  // namespace

// A container's daemon on its own /dev/pts/N, N the bench line's number too: /proc names both
// /dev/pts/N, yet the line is free.
TEST(Check, ATerminalOfTheSameNumberInAnotherDevptsIsNotTheLine) {
  cBench b;
  char real[PATH_MAX];
  ASSERT_NE(nullptr, realpath(b.module().ttyPath().c_str(), real));
  std::string slave = real;
  int index = atoi(slave.c_str() + 9);
  ASSERT_EQ("/dev/pts/" + std::to_string(index), slave);
  if (index >= 64) GTEST_SKIP() << slave << ": too many terminals open on this system";
  int report[2];
  ASSERT_EQ(0, pipe2(report, O_CLOEXEC));
  pid_t parent = fork();
  if (parent == 0) holdTwin(index, slave.c_str(), report[1]);
  close(report[1]);
  pid_t holder = -1;
  bool started = read(report[0], &holder, sizeof holder) == sizeof holder;
  close(report[0]);
  for (int i = 0; started && i < 200 && commOf(holder) != "sleep"; ++i) usleep(10000);
  cCheckResult r;
  if (started) r = runCheck(b, {"--as-me"});
  if (started) kill(holder, SIGKILL);
  kill(parent, SIGKILL);
  int status = 0;
  waitpid(parent, &status, 0);
  if (!started) GTEST_SKIP() << "no devpts instance of its own (needs root), status " << status;
  EXPECT_TRUE(r.has("ok   serial  no other program holds " + b.module().ttyPath())) << r.out;
  EXPECT_TRUE(r.has("module answers")) << r.out;
  EXPECT_FALSE(r.has(std::to_string(holder))) << r.out;
}

namespace {

// The check beside the bench's daemon, without the simulated GPIO device: the serial part only.
std::string checkBeside(cBench& b) {
  std::vector<std::string> command;
#if defined(FERRYD_EMULATOR)
  command = {FERRYD_EMULATOR, "-L", FERRYD_EMULATOR_ROOT};
#endif
  command.insert(command.end(), {FERRYD_BINARY, "--check", "--as-me", b.configPath()});
  std::vector<char*> argv;
  for (std::string& a : command) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, n);
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return text;
}

}  // namespace

TEST(Check, ALineHeldByTheRunningDaemonIsLeftAlone) {
  cBenchOptions o;
  o.speed = 10;
  cBench b(o);
  ASSERT_TRUE(b.start());
  ASSERT_TRUE(b.waitForLog("Opened OK"));
  std::string out = checkBeside(b);
  EXPECT_NE(std::string::npos, out.find("held by the running ferryd (pid " +
                                        std::to_string(b.pid()) + "): the module is not touched"))
      << out;
  EXPECT_EQ(std::string::npos, out.find("module answers")) << out;
  EXPECT_FALSE(b.module().waitForCommand("config", 500)) << "the module was queried";
}

TEST(Check, UsageErrorsExitWithTwo) {
  cBench b;
  ASSERT_TRUE(b.start({"--check", "--bogus"}));
  EXPECT_EQ(2, b.waitExit(30000));
  ASSERT_TRUE(b.start({"--json", b.configPath()}));  // an option without --check
  EXPECT_EQ(2, b.waitExit(30000));
  EXPECT_TRUE(b.daemonOutput().find("add --check") != std::string::npos) << b.daemonOutput();
}
