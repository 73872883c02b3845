#include "tests/ferrycat/cCatRun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <stdexcept>

#include "tests/common/cTempDir.h"

cCatRun::cCommand cCatRun::program(const std::vector<std::string>& args) {
  cCommand c;
#if defined(FERRYD_EMULATOR)
  c.argv = {FERRYD_EMULATOR, "-L", FERRYD_EMULATOR_ROOT};
#endif
  c.argv.insert(c.argv.end(), args.begin(), args.end());
  return c;
}

cCatRun::cCommand cCatRun::shell(const std::string& dir, const std::string& line) {
  cCommand c;
  c.argv = {"/bin/bash", "-c", line};
  c.dir = dir;
  c.group = true;
  return c;
}

std::string cCatRun::tempDir() {
  char pattern[] = "/tmp/ferrycat-test-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

namespace {

std::vector<std::string> withFerrycat(const std::vector<std::string>& args) {
  std::vector<std::string> all = {FERRYCAT_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

}  // namespace

cCatRun::cCatRun(const std::vector<std::string>& args, const std::string& stdinPath,
                 bool closedStdout, bool unreadStdout)
    : cCatRun(program(withFerrycat(args)), stdinPath, closedStdout, unreadStdout) {}

cCatRun::cCatRun(const cCommand& command, const std::string& stdinPath, bool closedStdout,
                 bool unreadStdout)
    : mDir(tempDir()), mPid(-1), mGroup(command.group), mInput(-1), mUnread(-1) {
  bool outPipeUsed = closedStdout || unreadStdout;
  std::vector<std::string> texts = command.argv;
  std::vector<char*> argv;
  for (std::string& t : texts) argv.push_back(&t[0]);
  argv.push_back(nullptr);
  int pipeEnds[2] = {-1, -1};
  if (stdinPath.empty() && pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::string outPath = mDir + "/out", errPath = mDir + "/err";
  int outPipe[2] = {-1, -1};
  if (outPipeUsed && pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  // The child of a threaded process allocates nothing before exec.
  mPid = fork();
  if (mPid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (command.group) setpgid(0, 0);
    if (!command.dir.empty() && chdir(command.dir.c_str()) != 0) _exit(127);
    int in = stdinPath.empty() ? pipeEnds[0]
                               : open(stdinPath == "-" ? "/dev/null" : stdinPath.c_str(), O_RDONLY);
    dup2(in, STDIN_FILENO);
    dup2(outPipeUsed ? outPipe[1] : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
         STDOUT_FILENO);
    dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (command.group) setpgid(mPid, mPid);  // also here, so that no signal comes before the child's
  if (outPipeUsed) {
    close(outPipe[1]);
    if (unreadStdout)
      mUnread = outPipe[0];
    else
      close(outPipe[0]);
  }
  if (stdinPath.empty()) {
    close(pipeEnds[0]);
    mInput = pipeEnds[1];
  }
}

cCatRun::~cCatRun() {
  closeInput();
  if (mUnread >= 0) close(mUnread);
  if (mPid > 0) {
    kill(mGroup ? -mPid : mPid, SIGKILL);
    waitpid(mPid, nullptr, 0);
  }
  unlink((mDir + "/out").c_str());
  unlink((mDir + "/err").c_str());
  rmdir(mDir.c_str());
}

bool cCatRun::input(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(mInput, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void cCatRun::closeInput() {
  if (mInput >= 0) close(mInput);
  mInput = -1;
}

void cCatRun::signal(int sig) {
  if (mPid > 0) kill(mGroup ? -mPid : mPid, sig);
}

int cCatRun::wait(int timeoutMs) {
  for (int waited = 0; mPid > 0; waited += 10) {
    int status = 0;
    if (waitpid(mPid, &status, WNOHANG) == mPid) {
      mPid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (waited >= timeoutMs) {
      kill(mGroup ? -mPid : mPid, SIGKILL);
      waitpid(mPid, nullptr, 0);
      mPid = -1;
      return -1;
    }
    usleep(10 * 1000);
  }
  return -1;
}

bool cCatRun::waitForStderr(const std::string& text, int timeoutMs, size_t count) const {
  return waitFor(true, text, timeoutMs, count);
}

bool cCatRun::waitForStdout(const std::string& text, int timeoutMs) const {
  return waitFor(false, text, timeoutMs, 1);
}

bool cCatRun::waitFor(bool err, const std::string& text, int timeoutMs, size_t count) const {
  for (int waited = 0; waited <= timeoutMs; waited += 10) {
    std::string said = err ? this->err() : out();
    size_t found = 0;
    for (size_t at = said.find(text); at != std::string::npos && found < count;
         at = said.find(text, at + 1))
      ++found;
    if (found >= count) return true;
    usleep(10 * 1000);
  }
  return false;
}

std::string cCatRun::out() const {
  return cTempDir::read(mDir + "/out");
}

std::string cCatRun::err() const {
  return cTempDir::read(mDir + "/err");
}

int cCatRun::run(const std::vector<std::string>& args, std::string* out, std::string* err,
                 const std::string& stdinPath, int timeoutMs) {
  cCatRun r(args, stdinPath);
  int status = r.wait(timeoutMs);
  if (out != nullptr) *out = r.out();
  if (err != nullptr) *err = r.err();
  return status;
}

std::string cCatRun::writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string cCatRun::hex(const std::vector<uint8_t>& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (uint8_t c : bytes) s += {kHex[c >> 4], kHex[c & 15]};
  return s;
}
