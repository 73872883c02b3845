#include "bench/perf/cPerfLink.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "bench/cBenchClock.h"
#include "bench/perf/cPerfTraffic.h"

namespace {

// How the module answers the daemon's start-up commands (second word of the command line).
const char* const kReplies[][2] = {
    {"DisableBond", "AT-AB BondDisabled"},
    {"EraseBondTable", "AT-AB BondTableErased"},
    {"DefaultLocalName", "AT-AB LocalNameOk"},
    {"EnableBond", "AT-AB BondEnabled"},
    {"UpdateInquiryScan", "AT-AB InquiryScanUpdateDone"},
    {"SPPDisconnect", "AT-AB SPPConnectionClosed"},
};

bool waitReadable(int fd, int timeoutMs) {
  pollfd p = {fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
}

}  // namespace

cPerfLink::cPerfLink(cKind kind, int segSize, int socatBlock)
    : mKind(kind),
      mSegSize(segSize),
      mSocatBlock(socatBlock),
      mMaster(-1),
      mSlave(-1),
      mBroker(-1),
      mBrokerPort(0),
      mRelayAddr{},
      mPid(-1) {
  mName = kind == cKind::Ferryd ? "ferryd" : "socat -b" + std::to_string(socatBlock);
}

cPerfLink::~cPerfLink() {
  stop();
  if (mMaster >= 0) close(mMaster);
  if (mSlave >= 0) close(mSlave);
  if (mBroker >= 0) close(mBroker);
  if (!mDir.empty() && getenv("FERRYD_BENCH_KEEP") == nullptr) {
    int ignored = system(("rm -rf '" + mDir + "'").c_str());
    (void)ignored;
  }
}

bool cPerfLink::start(std::string* error) {
  char pattern[] = "/tmp/ferryd-perf-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return *error = "mkdtemp failed", false;
  mDir = pattern;
  char slave[256];
  if (openpty(&mMaster, &mSlave, slave, nullptr, nullptr) != 0) return *error = "openpty", false;
  mSlavePath = slave;
  termios tio;
  tcgetattr(mSlave, &tio);
  cfmakeraw(&tio);
  tcsetattr(mSlave, TCSANOW, &tio);
  fcntl(mMaster, F_SETFD, FD_CLOEXEC);
  fcntl(mSlave, F_SETFD, FD_CLOEXEC);

  mBroker = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int big = 4 << 20;
  setsockopt(mBroker, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  if (bind(mBroker, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(mBroker, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return *error = "broker socket", false;
  }
  mBrokerPort = ntohs(addr.sin_port);

  std::vector<std::string> args;
  if (mKind == cKind::Ferryd) {
    std::string conf = mDir + "/ferryd.conf";
    std::ofstream(conf) << "ferryd.io.pvxio = " << mDir << "/no-gpio-device\n"
                        << "ferryd.io.tty = " << mSlavePath << "\n"
                        << "ferryd.io.segsize = " << mSegSize << "\n"
                        << "zam.broker.host = 127.0.0.1\n"
                        << "zam.broker.port = " << mBrokerPort << "\n";
    const char* binary = getenv("FERRYD_PERF_BINARY");
    args = {binary != nullptr ? binary : FERRYD_BINARY, conf};
  } else {
    args = {"socat", "-b" + std::to_string(mSocatBlock),
            "UDP:127.0.0.1:" + std::to_string(mBrokerPort) + ",bind=127.0.0.1",
            "GOPEN:" + mSlavePath + ",cfmakeraw"};
  }
  std::string logPath = mDir + "/output.log";
  int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_t pid = fork();
  if (pid < 0) return *error = "fork", false;
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(out);
  mPid = pid;
  return true;
}

bool cPerfLink::answerLine(const std::string& line, bool* named) {
  size_t at = line.find("AT+AB ");
  if (at == std::string::npos) return true;
  std::string keyword = line.substr(at + 6);
  keyword = keyword.substr(0, keyword.find(' '));
  for (const auto& row : kReplies) {
    if (keyword != row[0]) continue;
    std::string reply = std::string(row[1]) + "\r\n";
    if (keyword == "DefaultLocalName") *named = true;
    return writeMaster(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
  }
  return true;
}

bool cPerfLink::awaitSetUp(int timeoutMs, std::string* error) {
  if (mKind != cKind::Ferryd) return true;
  std::string line;
  bool named = false;
  double end = benchNow() + timeoutMs / 1000.0;
  while (!named) {
    if (benchNow() > end) return *error = mName + ": no start-up commands", false;
    if (!waitReadable(mMaster, 100)) continue;
    char buf[512];
    ssize_t n = read(mMaster, buf, sizeof buf);
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] != '\n') {
        if (buf[i] != '\r') line += buf[i];
        continue;
      }
      if (!answerLine(line, &named)) return *error = "write to the pty failed", false;
      line.clear();
    }
  }
  return true;
}

// The probe is a framed one-segment message (id 127) for ferryd and plain bytes for socat; it
// is repeated until the broker has it, then anything left over is drained.
bool cPerfLink::connect(std::string* error) {
  if (mKind == cKind::Ferryd) {
    const char urc[] = "AT-AB -BypassMode-\r\n";
    writeMaster(reinterpret_cast<const uint8_t*>(urc), sizeof urc - 1);
    usleep(300 * 1000);  // the daemon reads the line on its own before the first frame
  }
  cBytes probe = mKind == cKind::Ferryd ? cPerfTraffic::framed(127, 5, true, 256)
                                        : cBytes{'p', 'r', 'o', 'b', 'e'};
  for (int attempt = 0; attempt < 50; ++attempt) {
    writeMaster(probe.data(), probe.size());
    if (!waitReadable(mBroker, 200)) continue;
    uint8_t buf[65536];
    socklen_t len = sizeof mRelayAddr;
    recvfrom(mBroker, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&mRelayAddr), &len);
    usleep(200 * 1000);
    while (waitReadable(mBroker, 0)) recv(mBroker, buf, sizeof buf, 0);
    while (waitReadable(mMaster, 0)) {
      if (read(mMaster, buf, sizeof buf) <= 0) break;
    }
    return true;
  }
  return *error = mName + ": the probe never reached the broker", false;
}

bool cPerfLink::writeMaster(const uint8_t* data, size_t len) {
  while (len > 0) {
    ssize_t n = write(mMaster, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

void cPerfLink::stop() {
  if (mPid <= 0) return;
  kill(mPid, SIGKILL);
  waitpid(mPid, nullptr, 0);
  mPid = -1;
}
