#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// The real ferrycat binary (or another program of the build, or a shell command line) run as a
// child, under the cross emulator on ARM builds: standard input from a file or a pipe the test
// writes, standard output and error into files.
class cCatRun {
 public:
  // What to run: argv as it is, in dir ("" for the test's own), as a process group of its own
  // when group is set (a signal then reaches a whole pipeline).
  struct cCommand {
    std::vector<std::string> argv;
    std::string dir;
    bool group = false;
  };
  // A program of the build with its arguments (the emulator put first on a cross build).
  static cCommand program(const std::vector<std::string>& args);
  // A command line run by bash in dir, as a process group.
  static cCommand shell(const std::string& dir, const std::string& line);

  // stdinPath: a file to read, "" for a pipe that input() writes and closeInput() closes, or
  // "-" for an empty one.
  // closedStdout: standard output is a pipe whose reader has gone. unreadStdout: a pipe the
  // test holds open and never reads (it fills up).
  explicit cCatRun(const std::vector<std::string>& args, const std::string& stdinPath = "-",
                   bool closedStdout = false, bool unreadStdout = false);
  explicit cCatRun(const cCommand& command, const std::string& stdinPath = "-",
                   bool closedStdout = false, bool unreadStdout = false);
  ~cCatRun();
  cCatRun(const cCatRun&) = delete;
  cCatRun& operator=(const cCatRun&) = delete;

  bool input(const std::string& bytes);
  void closeInput();
  void signal(int sig);
  // The exit status (128 + signal when killed by one), or -1 when it has not ended in time
  // (it is then killed).
  int wait(int timeoutMs);
  // Waits until standard error (standard output) holds text, count times.
  bool waitForStderr(const std::string& text, int timeoutMs, size_t count = 1) const;
  bool waitForStdout(const std::string& text, int timeoutMs) const;
  std::string out() const;
  std::string outPath() const { return mDir + "/out"; }
  std::string err() const;
  pid_t pid() const { return mPid; }

  // Runs to the end: the exit status.
  static int run(const std::vector<std::string>& args, std::string* out, std::string* err,
                 const std::string& stdinPath = "-", int timeoutMs = 30000);
  static std::string tempDir();
  // Writes text to path; returns path.
  static std::string writeFile(const std::string& path, const std::string& text);
  // Two lower-case hex digits a byte, as ferrycat reads and prints them.
  static std::string hex(const std::vector<uint8_t>& bytes);

 private:
  bool waitFor(bool err, const std::string& text, int timeoutMs, size_t count) const;

  std::string mDir;
  pid_t mPid;
  bool mGroup;
  int mInput;   // the pipe's writing end, or -1
  int mUnread;  // the reading end of an unread standard output, or -1
};
