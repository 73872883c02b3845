#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class cSimGpio;

// Runs the real ferryd binary against a cSimGpio in a child process: a private temporary folder
// for its configuration files and its output, the simulator's environment for the child, and a
// stop that ends it. Meant for one daemon run per object.
class cSimGpioDaemon {
 public:
  explicit cSimGpioDaemon(const cSimGpio& sim);
  ~cSimGpioDaemon();  // stops the child and removes the folder
  cSimGpioDaemon(const cSimGpioDaemon&) = delete;
  cSimGpioDaemon& operator=(const cSimGpioDaemon&) = delete;

  const std::string& dir() const { return mDir; }
  // Writes text into a file of the folder and returns the file's path.
  std::string writeFile(const std::string& name, const std::string& text) const;
  // Configuration lines that point the daemon at the simulated device and its serial device at
  // a path that does not exist.
  std::string baseConfig() const;

  // Starts the binary with these arguments (argv[1] on). extraEnv entries ("NAME=value") are
  // added to the simulator's, replacing inherited ones of the same name. Output (stdout and
  // stderr) goes to a file of the folder.
  bool start(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {});
  // Ends the child (SIGTERM, SIGKILL if it lingers) and waits for it.
  void stop();
  bool running() const { return mPid > 0; }
  pid_t pid() const { return mPid; }
  double startTime() const { return mStartTime; }  // CLOCK_MONOTONIC seconds

  std::string output() const;
  // Waits up to timeoutMs until the output holds text; true when it does.
  bool waitOutput(const std::string& text, int timeoutMs) const;

 private:
  std::vector<std::string> childEnvironment(const std::vector<std::string>& extraEnv) const;

  const cSimGpio& mSim;
  std::string mDir;
  std::string mOutputPath;
  pid_t mPid = -1;
  double mStartTime = 0;
};
