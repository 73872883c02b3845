#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/cBenchLog.h"
#include "bench/cSimBroker.h"
#include "bench/cSimGpio.h"
#include "bench/cSimModule.h"

// What the bench writes into the daemon's configuration and how it runs the daemon.
struct cBenchOptions {
  // Speed of the daemon's clocks through libfaketime (10 runs ten times faster than real time);
  // 1 runs the daemon at true speed without libfaketime.
  double speed = 1.0;
  // "ferryd.io.segsize"; 0 leaves the key out (the daemon then uses 256).
  int segSize = 0;
  // "ferryd.io.btname"; empty leaves the key out (the daemon then uses "Bramblefox").
  std::string btName;
  // "zam.broker.host"; the simulated broker listens on 127.0.0.1.
  std::string brokerHost = "127.0.0.1";
  // "zam.broker.port"; 0 gives the simulated broker's port.
  int brokerPort = 0;
  // False: no simulated broker (broker() must not be used), so another program (ferrycat
  // broker) can listen on brokerPort, which must then be given.
  bool simBroker = true;
  // Further "key = value" lines, written after the others (a later duplicate key wins).
  std::vector<std::pair<std::string, std::string>> keys;
  // Path of the simulated GPIO device ("ferryd.io.pvxio"); must start with "/dev/".
  std::string gpioPath = "/dev/pvxio0";
  // The daemon's stdout and stderr go into a pipe that the bench copies to daemonOutput() (as
  // under a service manager), instead of straight into a file.
  bool outputThroughPipe = false;
  // Level of the daemon's root log category; INFO leaves out the per-read and per-datagram
  // traffic lines (long runs).
  std::string logLevel = "DEBUG";
  // Further "NAME=value" entries of the daemon's environment (a service manager's NOTIFY_SOCKET,
  // WATCHDOG_USEC).
  std::vector<std::string> env;
};

// The simulated board around the real ferryd binary: the GPIO device, the Bluetooth module and
// the broker, a configuration file in a temporary folder, the daemon's log at DEBUG in a file
// that the bench follows. The simulators are made by the constructor; start() launches the
// daemon, so a test can prepare them (press the button, change module replies) beforehand.
//
// Times: the simulators and the log lines carry CLOCK_MONOTONIC seconds of this process (real
// time); each log line also carries the daemon's own clock (cBenchLog::cLine::daemonTime), which
// runs speed() times faster under libfaketime.
class cBench {
 public:
  explicit cBench(cBenchOptions options = {});
  // Stops the daemon and removes the folder (kept when FERRYD_BENCH_KEEP is set).
  ~cBench();
  cBench(const cBench&) = delete;
  cBench& operator=(const cBench&) = delete;

  // Launches the daemon with the configuration file as its argument; false when fork failed.
  bool start() { return start({mConfigPath}); }
  // Launches the daemon with these arguments (argv[1] on; none, or several, are allowed).
  bool start(const std::vector<std::string>& args);
  // SIGKILL and waitpid; does nothing when the daemon is not running.
  void stop();
  // True while the launched daemon has not ended (it never ends by itself).
  bool running();
  // Waits up to timeoutMs for a launched program that ends by itself (ferryd --check): its exit
  // status, or -1 when it has not ended in time or did not exit normally.
  int waitExit(int timeoutMs);
  pid_t pid() const { return mPid; }

  cSimGpio& gpio() { return *mGpio; }
  cSimModule& module() { return *mModule; }
  cSimBroker& broker() { return *mBroker; }  // not without options().simBroker
  cBenchLog& log() { return mLog; }
  const cBenchLog& log() const { return mLog; }

  // Shorthands for log().
  bool waitForLog(const std::string& text, size_t n = 1, int timeoutMs = 10000) const {
    return mLog.waitFor(text, n, timeoutMs);
  }
  int logCount(const std::string& text) const { return mLog.count(text); }

  // CLOCK_MONOTONIC seconds of this process: the time base of every record.
  static double now();

  const cBenchOptions& options() const { return mOptions; }
  double speed() const { return mOptions.speed; }
  // Real (CLOCK_MONOTONIC) time of the launch.
  double startTime() const { return mStartTime; }
  // Daemon seconds since the launch at a real time stamp of this process (simulator records).
  double daemonSeconds(double realTime) const { return (realTime - mStartTime) * speed(); }
  // Real milliseconds for a span of daemon seconds, plus a margin of real milliseconds.
  int realMs(double daemonSeconds, int marginMs = 0) const;
  // Sleeps for a span of daemon seconds.
  void sleepDaemon(double daemonSeconds) const;

  const std::string& dir() const { return mDir; }
  const std::string& configPath() const { return mConfigPath; }
  const std::string& logPath() const { return mLogPath; }
  // Writes text into a file of the folder and returns the file's path.
  std::string writeFile(const std::string& name, const std::string& text) const;
  // Everything the daemon wrote to stdout and stderr since the last start().
  std::string daemonOutput() const;
  // Waits up to timeoutMs until daemonOutput() holds text; true when it does.
  bool waitForOutput(const std::string& text, int timeoutMs = 10000) const;
  // The sanitizer reports in the daemon's output, empty when there are none.
  std::string sanitizerReport() const;

 private:
  void writeConfig() const;
  std::vector<std::string> childEnvironment() const;
  void joinCopier();

  cBenchOptions mOptions;
  std::string mDir;
  std::string mConfigPath;
  std::string mLogPath;
  std::string mOutputPath;
  std::unique_ptr<cSimGpio> mGpio;
  std::unique_ptr<cSimModule> mModule;
  std::unique_ptr<cSimBroker> mBroker;
  cBenchLog mLog;
  pid_t mPid;
  double mStartTime;
  std::thread mCopier;  // pipe to output file, with outputThroughPipe
};
