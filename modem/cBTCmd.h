#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "support/cYlog.h"

struct cBTCmdRow;

// One AT command transaction: formats its line at construction, sends it once, then waits in
// one-second steps for reply lines handed over by the modem's reader thread.
class cBTCmd : public cYlog {
 public:
  static constexpr int kCmdBufSize = 64;
  static constexpr int kReplySize = 1024;
  static constexpr int kDefaultRetries = 10;

  cBTCmd(const char* format, ...) __attribute__((format(printf, 2, 3)));
  virtual bool parseReply(char* reply);
  virtual ~cBTCmd();
  cBTCmd(const cBTCmd&) = delete;
  cBTCmd& operator=(const cBTCmd&) = delete;

  // Sends the command and waits for its completing reply; true on success. Link state thread.
  bool execute();
  // One wait of at most one second for a reply; true when a line is waiting to be examined.
  bool waitReply();
  // Delivers one received line (reader thread). Lines longer than the reply buffer are cut.
  void onReplyLine(const char* line, int len);
  const char* getCmdText() const { return mCmdText; }
  // Replaces the command line; a text longer than 63 characters is cut.
  void setCmdText(const char* text);
  static int cutAtNewline(char* text);
  // One waitReply; then copies the waiting line to out (room for kReplySize bytes) and returns
  // its length, or 0 when no line came.
  int takeReply(char* out);
  int retries() const { return mRetries; }

 protected:
  // Formats the row's command line with the arguments and takes its wait budget.
  explicit cBTCmd(const cBTCmdRow* row, ...);
  // Examines the waiting line under mReplyMutex: true when it completes the command.
  bool examineReply();

 private:
  void init();
  void formatLine(const char* format, va_list args);

  pthread_mutex_t mWaitMutex;
  pthread_cond_t mReplyCond;
  pthread_mutex_t mReplyMutex;
  const char* mCmdText;
  char mCmdBuf[kCmdBufSize];
  char mReply[kReplySize];
  int32_t mReplyLen;  // wide enough for every line the reply buffer holds
  std::atomic<bool> mReplyReady;

 protected:
  int32_t mRetries;
};
