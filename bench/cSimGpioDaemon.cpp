#include "bench/cSimGpioDaemon.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "bench/cSimGpio.h"

extern char** environ;

namespace {

double monotonicNow() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void sleepMs(int ms) {
  timespec ts = {ms / 1000, (ms % 1000) * 1000L * 1000L};
  nanosleep(&ts, nullptr);
}

std::string envName(const std::string& entry) {
  return entry.substr(0, entry.find('='));
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (std::string& t : texts) out.push_back(&t[0]);
  out.push_back(nullptr);
  return out;
}

}  // namespace

cSimGpioDaemon::cSimGpioDaemon(const cSimGpio& sim) : mSim(sim) {
  char pattern[] = "/tmp/ferryd-bench.XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cSimGpioDaemon: mkdtemp failed");
  mDir = pattern;
  mOutputPath = mDir + "/ferryd.out";
}

cSimGpioDaemon::~cSimGpioDaemon() {
  stop();
  std::error_code ignored;
  std::filesystem::remove_all(mDir, ignored);
}

std::string cSimGpioDaemon::writeFile(const std::string& name, const std::string& text) const {
  std::string path = mDir + "/" + name;
  std::ofstream(path) << text;
  return path;
}

std::string cSimGpioDaemon::baseConfig() const {
  return "ferryd.io.pvxio = " + mSim.devPath() + "\n" + "ferryd.io.tty = " + mDir +
         "/no-such-tty\n" + "zam.broker.host = 127.0.0.1\n";
}

std::vector<std::string> cSimGpioDaemon::childEnvironment(
    const std::vector<std::string>& extraEnv) const {
  std::vector<std::string> added = mSim.childEnv();
  added.insert(added.end(), extraEnv.begin(), extraEnv.end());
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& a : added) replaced = replaced || envName(a) == envName(entry);
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), added.begin(), added.end());
  return env;
}

bool cSimGpioDaemon::start(const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv) {
  if (running()) return false;
  std::vector<std::string> argTexts = {FERRYD_BINARY};
  argTexts.insert(argTexts.end(), args.begin(), args.end());
  std::vector<std::string> envTexts = childEnvironment(extraEnv);
  std::vector<char*> argv = pointers(argTexts);
  std::vector<char*> envp = pointers(envTexts);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, mOutputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  mStartTime = monotonicNow();
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  mPid = pid;
  return true;
}

void cSimGpioDaemon::stop() {
  if (!running()) return;
  kill(mPid, SIGTERM);
  for (int waited = 0; waited < 2000; waited += 10) {
    if (waitpid(mPid, nullptr, WNOHANG) == mPid) {
      mPid = -1;
      return;
    }
    sleepMs(10);
  }
  kill(mPid, SIGKILL);
  waitpid(mPid, nullptr, 0);
  mPid = -1;
}

std::string cSimGpioDaemon::output() const {
  std::ifstream in(mOutputPath);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool cSimGpioDaemon::waitOutput(const std::string& text, int timeoutMs) const {
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (output().find(text) != std::string::npos) return true;
    sleepMs(20);
  }
  return output().find(text) != std::string::npos;
}
