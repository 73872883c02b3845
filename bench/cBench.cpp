#include "bench/cBench.h"

#include <fcntl.h>
#include <ftw.h>
#include <link.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "bench/cBenchClock.h"

extern char** environ;

namespace {

std::string makeTempDir() {
  char pattern[] = "/tmp/ferryd-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cBench: mkdtemp failed");
  return pattern;
}

// Removes dir and everything below it. Done in-process: a shell started from an emulated test
// program would be a host program seeing the target's LD_PRELOAD.
void removeDir(const std::string& dir) {
  nftw(
      dir.c_str(),
      [](const char* path, const struct stat*, int, FTW*) {
        remove(path);
        return 0;
      },
      16, FTW_DEPTH | FTW_PHYS);
}

// Sets NAME=value in env, replacing an entry of the same name.
void setEntry(std::vector<std::string>* env, const std::string& entry) {
  std::string name = entry.substr(0, entry.find('=') + 1);
  for (std::string& e : *env) {
    if (e.compare(0, name.size(), name) == 0) {
      e = entry;
      return;
    }
  }
  env->push_back(entry);
}

std::string entryValue(const std::vector<std::string>& env, const std::string& name) {
  for (const std::string& e : env) {
    if (e.compare(0, name.size() + 1, name + "=") == 0) return e.substr(name.size() + 1);
  }
  return "";
}

#if defined(__SANITIZE_THREAD__)
// Path of the loaded shared library whose file name contains name; empty when none is loaded.
std::string loadedLibrary(const std::string& name) {
  struct cSearch {
    const std::string* name;
    std::string path;
  } search{&name, ""};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        cSearch* s = static_cast<cSearch*>(data);
        std::string path = info->dlpi_name ? info->dlpi_name : "";
        if (path.find(*s->name) == std::string::npos) return 0;
        s->path = path;
        return 1;
      },
      &search);
  return search.path;
}
#endif

// The command that runs the daemon with the environment env. Natively the daemon binary itself.
// A cross-built daemon runs under qemu-user (no binfmt_misc is assumed): qemu gets the target's
// root and passes LD_PRELOAD to the emulated program through -E, as a host program must not
// preload the target's libraries itself.
std::vector<std::string> daemonCommand(std::vector<std::string>* env) {
  std::vector<std::string> command;
#if defined(FERRYD_EMULATOR)
  command = {FERRYD_EMULATOR, "-L", FERRYD_EMULATOR_ROOT};
  for (auto it = env->begin(); it != env->end(); ++it) {
    if (it->compare(0, 11, "LD_PRELOAD=") != 0) continue;
    command.push_back("-E");
    command.push_back(*it);
    env->erase(it);
    break;
  }
#else
  (void)env;
#endif
  command.push_back(FERRYD_BINARY);
  return command;
}

std::string speedText(double speed) {
  std::ostringstream out;
  out << speed;
  return out.str();
}

}  // namespace

cBench::cBench(cBenchOptions options)
    : mOptions(std::move(options)), mDir(makeTempDir()), mPid(-1), mStartTime(0) {
  mConfigPath = mDir + "/ferryd.conf";
  mLogPath = mDir + "/ferryd.log";
  mOutputPath = mDir + "/ferryd.out";
  mGpio.reset(new cSimGpio(cSimGpio::defaultPins(), mOptions.gpioPath));
  mModule.reset(new cSimModule());
  if (mOptions.simBroker) {
    mBroker.reset(new cSimBroker());
  } else if (mOptions.brokerPort == 0) {
    throw std::runtime_error("cBench: without the simulated broker the broker's port is needed");
  }
  writeConfig();
}

cBench::~cBench() {
  stop();
  mLog.stop();
  if (getenv("FERRYD_BENCH_KEEP") == nullptr) removeDir(mDir);
}

void cBench::writeConfig() const {
  std::ofstream out(mConfigPath);
  out << "ferryd.io.pvxio = " << mGpio->devPath() << "\n";
  out << "ferryd.io.tty = " << mModule->ttyPath() << "\n";
  out << "zam.broker.host = " << mOptions.brokerHost << "\n";
  out << "zam.broker.port = " << (mOptions.brokerPort ? mOptions.brokerPort : mBroker->port())
      << "\n";
  if (mOptions.segSize != 0) out << "ferryd.io.segsize = " << mOptions.segSize << "\n";
  if (!mOptions.btName.empty()) out << "ferryd.io.btname = " << mOptions.btName << "\n";
  for (const auto& kv : mOptions.keys) out << kv.first << " = " << kv.second << "\n";
  out << "log4cpp.rootCategory = " << mOptions.logLevel << ", bench\n";
  out << "log4cpp.appender.bench = FileAppender\n";
  out << "log4cpp.appender.bench.fileName = " << mLogPath << "\n";
  out << "log4cpp.appender.bench.layout = PatternLayout\n";
  out << "log4cpp.appender.bench.layout.ConversionPattern = " << cBenchLog::kPattern << "\n";
}

// This process's environment plus the simulated device's entries, libfaketime at the chosen
// speed, and the sanitizer options that umockdev's preload needs.
std::vector<std::string> cBench::childEnvironment() const {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
  for (const std::string& entry : mGpio->childEnv()) setEntry(&env, entry);
  for (const std::string& entry : mOptions.env) setEntry(&env, entry);
  if (mOptions.speed != 1.0) {
    setEntry(&env, "LD_PRELOAD=" + entryValue(env, "LD_PRELOAD") + ":" + FAKETIME_LIB);
    setEntry(&env, "FAKETIME=+0 x" + speedText(mOptions.speed));
#if defined(FERRYD_FAKETIME_MONOTONIC)
    // libfaketime on ARM leaves CLOCK_MONOTONIC alone unless told, yet still converts monotonic
    // condition-variable deadlines, which then all lie in the past.
    setEntry(&env, "FAKETIME_DONT_FAKE_MONOTONIC=0");
#endif
  }
#if defined(__SANITIZE_THREAD__)
  // The sanitizer's interceptors must come before the preloaded libraries: with libfaketime
  // first, TSan would not see the mutex released inside a condition wait.
  std::string tsan = loadedLibrary("libtsan.so");
  if (!tsan.empty()) setEntry(&env, "LD_PRELOAD=" + tsan + ":" + entryValue(env, "LD_PRELOAD"));
#endif
#if defined(__SANITIZE_ADDRESS__)
  std::string asan = entryValue(env, "ASAN_OPTIONS");
  setEntry(&env, "ASAN_OPTIONS=" + asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0");
#endif
  return env;
}

bool cBench::start(const std::vector<std::string>& args) {
  if (mPid > 0) return true;
  std::vector<std::string> env = childEnvironment();
  std::vector<std::string> argTexts = daemonCommand(&env);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  argTexts.insert(argTexts.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argTexts) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  joinCopier();
  int out = open(mOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int pipeEnds[2] = {-1, -1};
  if (mOptions.outputThroughPipe && pipe2(pipeEnds, O_CLOEXEC) != 0) {
    close(out);
    return false;
  }
  int childOut = mOptions.outputThroughPipe ? pipeEnds[1] : out;

  std::ofstream(mLogPath, std::ios::trunc).close();  // a restart begins a fresh log
  mLog.follow(mLogPath);
  mStartTime = benchNow();
  pid_t pid = fork();
  if (pid < 0) {
    close(out);
    if (mOptions.outputThroughPipe) {
      close(pipeEnds[0]);
      close(pipeEnds[1]);
    }
    return false;
  }
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test
    sigset_t none;  // the daemon starts as a service would, whatever this process blocks
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(childOut, STDOUT_FILENO);
    dup2(childOut, STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  if (mOptions.outputThroughPipe) {
    close(pipeEnds[1]);
    // Copies until the daemon's end of the pipe closes (the daemon has ended).
    mCopier = std::thread([in = pipeEnds[0], out] {
      char buffer[4096];
      ssize_t n;
      while ((n = read(in, buffer, sizeof buffer)) > 0) {
        if (write(out, buffer, static_cast<size_t>(n)) != n) break;
      }
      close(in);
      close(out);
    });
  } else {
    close(out);
  }
  mPid = pid;
  return true;
}

void cBench::joinCopier() {
  if (mCopier.joinable()) mCopier.join();
}

void cBench::stop() {
  if (mPid > 0) {
    kill(mPid, SIGKILL);
    waitpid(mPid, nullptr, 0);
    mPid = -1;
  }
  joinCopier();
}

bool cBench::running() {
  if (mPid <= 0) return false;
  if (waitpid(mPid, nullptr, WNOHANG) == 0) return true;
  mPid = -1;
  return false;
}

int cBench::waitExit(int timeoutMs) {
  if (mPid <= 0) return -1;
  double end = benchNow() + timeoutMs / 1000.0;
  int status = 0;
  while (waitpid(mPid, &status, WNOHANG) == 0) {
    if (benchNow() > end) return -1;
    usleep(20000);
  }
  mPid = -1;
  joinCopier();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double cBench::now() {
  return benchNow();
}

int cBench::realMs(double daemonSeconds, int marginMs) const {
  return static_cast<int>(daemonSeconds * 1000.0 / speed()) + marginMs;
}

void cBench::sleepDaemon(double daemonSeconds) const {
  double real = daemonSeconds / speed();
  timespec ts;
  ts.tv_sec = static_cast<time_t>(real);
  ts.tv_nsec = static_cast<long>((real - ts.tv_sec) * 1e9);
  while (nanosleep(&ts, &ts) != 0) {
  }
}

std::string cBench::writeFile(const std::string& name, const std::string& text) const {
  std::string path = mDir + "/" + name;
  std::ofstream(path) << text;
  return path;
}

std::string cBench::daemonOutput() const {
  std::ifstream in(mOutputPath);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool cBench::waitForOutput(const std::string& text, int timeoutMs) const {
  const timespec step = {0, 20 * 1000 * 1000};
  for (int waited = 0; waited < timeoutMs; waited += 20) {
    if (daemonOutput().find(text) != std::string::npos) return true;
    nanosleep(&step, nullptr);
  }
  return daemonOutput().find(text) != std::string::npos;
}

std::string cBench::sanitizerReport() const {
  static const char* const kMarks[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                       "WARNING: ThreadSanitizer", "runtime error:"};
  std::string output = daemonOutput();
  for (const char* mark : kMarks) {
    size_t at = output.find(mark);
    if (at != std::string::npos) return output.substr(at, 4000);
  }
  return "";
}
