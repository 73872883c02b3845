#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "support/cYlog.h"

// One AT command transaction: formats its line at construction, sends it once, then waits in
// one-second steps for reply lines handed over by the modem's reader thread.
class cBTCmd : public cYlog {
 public:
  cBTCmd(const char* format, ...) __attribute__((format(printf, 2, 3)));
  virtual bool parseReply(char* reply);
  virtual ~cBTCmd();

  bool execute();
  bool waitReply();
  void onReplyLine(const char* line, int len);
  const char* getCmdText() const { return mCmdText; }
  void setCmdText(const char* text);
  static int cutAtNewline(char* text);
  int takeReply(char* out);

 protected:
  pthread_mutex_t mWaitMutex;
  pthread_cond_t mReplyCond;
  pthread_mutex_t mReplyMutex;
  const char* mCmdText;
  char mCmdBuf[64];
  char mReply[1024];
  int32_t mReplyLen;
  std::atomic<bool> mReplyReady;
  int32_t mRetries;
};
