#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// The real ferrycat binary run as a child (under the cross emulator on ARM builds): standard
// input from a file or a pipe the test writes, standard output and error into files.
class cCatRun {
 public:
  // stdinPath: a file to read, "" for a pipe that input() writes and closeInput() closes, or
  // "-" for an empty one.
  // closedStdout: standard output is a pipe whose reader has gone. unreadStdout: a pipe the
  // test holds open and never reads (it fills up).
  explicit cCatRun(const std::vector<std::string>& args, const std::string& stdinPath = "-",
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
  // Waits until standard error holds text.
  bool waitForStderr(const std::string& text, int timeoutMs) const;
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
  std::string mDir;
  pid_t mPid;
  int mInput;   // the pipe's writing end, or -1
  int mUnread;  // the reading end of an unread standard output, or -1
};
