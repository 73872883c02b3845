#include "modem/cBTCmd.h"

#include <time.h>

#include <cstdio>
#include <cstring>

#include "link/cBTMsg.h"
#include "modem/cBTCmdTable.h"
#include "support/cProgress.h"
#include "support/cStats.h"
#include "support/monotonicCond.h"

cBTCmd::cBTCmd(const char* format, ...)
    : cYlog("cBTCmd"),
      mCmdText(mCmdBuf),
      mReplyLen(0),
      mReplyReady(false),
      mRetries(kDefaultRetries) {
  va_list args;
  va_start(args, format);
  formatLine(format, args);
  va_end(args);
  init();
}

cBTCmd::cBTCmd(const cBTCmdRow* row, ...)
    : cYlog("cBTCmd"), mCmdText(mCmdBuf), mReplyLen(0), mReplyReady(false), mRetries(row->retries) {
  va_list args;
  va_start(args, row);
  formatLine(row->format, args);
  va_end(args);
  init();
}

void cBTCmd::init() {
  mReply[0] = '\0';
  pthread_mutex_init(&mWaitMutex, nullptr);
  initMonotonicCond(&mReplyCond);
  pthread_mutex_init(&mReplyMutex, nullptr);
}

cBTCmd::~cBTCmd() {
  pthread_mutex_destroy(&mReplyMutex);
  pthread_cond_destroy(&mReplyCond);
  pthread_mutex_destroy(&mWaitMutex);
}

// A line too long for the buffer is cut; when the line ends in CR LF the cut keeps them, so the
// module never receives a line without its terminator.
void cBTCmd::formatLine(const char* format, va_list args) {
  int n = vsnprintf(mCmdBuf, sizeof mCmdBuf, format, args);
  if (n < 0) {
    mCmdBuf[0] = '\0';
    return;
  }
  if (n < kCmdBufSize) return;
  size_t flen = strlen(format);
  if (flen >= 2 && strcmp(format + flen - 2, "\r\n") == 0) {
    strcpy(mCmdBuf + kCmdBufSize - 3, "\r\n");
  }
  warn("Command line of %d characters cut to %d: %s", n, kCmdBufSize - 1, mCmdBuf);
}

bool cBTCmd::parseReply(char*) {
  return false;
}

bool cBTCmd::execute() {
  int len = static_cast<int>(strlen(mCmdText));
  debug("sending CMD: %d: %s \n", len, mCmdText);
  mReplyReady = false;
  cBTMsg::sendToModem(mCmdText, len);
  int misses = 0;
  for (;;) {
    if (!waitReply()) {
      if (misses >= mRetries) {
        cStats::addAtTimeout();
        debug("Timed out");
        return false;
      }
      ++misses;
      continue;
    }
    if (examineReply()) {
      debug("Command OK");
      return true;
    }
    if (mRetries <= 0) {
      cStats::addAtTimeout();
      debug("Timed out");
      return false;
    }
    misses = 1;  // a line that did not complete the command renews the wait budget
  }
}

bool cBTCmd::examineReply() {
  pthread_mutex_lock(&mReplyMutex);
  bool done = mReplyLen != 0 && parseReply(mReply);
  mReplyReady = false;
  pthread_mutex_unlock(&mReplyMutex);
  return done;
}

// The reader signals without mWaitMutex: a line that arrives after the flag test and before the
// wait begins is picked up when the wait ends, at most a second late. Each wait is a step of the
// link state thread, whose progress the service watchdog follows: a transaction with a silent
// module is slow, not stuck; a command line that cannot be written never gets here.
bool cBTCmd::waitReply() {
  cProgress::mark(cProgress::kLinkState);
  if (mReplyReady) return true;
  pthread_mutex_lock(&mWaitMutex);
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += 1;
  if (pthread_cond_timedwait(&mReplyCond, &mWaitMutex, &deadline) != 0) {
    debug("waitReply timed out");
  }
  pthread_mutex_unlock(&mWaitMutex);
  return mReplyReady;
}

// The ready flag is set together with the line, under mReplyMutex: set after the unlock, it
// could follow an examination of this very line and have it examined a second time.
void cBTCmd::onReplyLine(const char* line, int len) {
  debug("cmdH: %s\n", line);
  if (len < 0) len = 0;
  if (len > kReplySize - 1) len = kReplySize - 1;
  pthread_mutex_lock(&mReplyMutex);
  memcpy(mReply, line, len);
  mReply[len] = '\0';
  mReplyLen = len;
  mReplyReady = true;
  pthread_mutex_unlock(&mReplyMutex);
  pthread_cond_signal(&mReplyCond);
}

void cBTCmd::setCmdText(const char* text) {
  size_t n = strlen(text);
  if (n >= sizeof mCmdBuf) {
    warn("Command text of %zu characters cut to %d", n, kCmdBufSize - 1);
    n = sizeof mCmdBuf - 1;
  }
  memmove(mCmdBuf, text, n);
  mCmdBuf[n] = '\0';
  mCmdText = mCmdBuf;
}

int cBTCmd::cutAtNewline(char* text) {
  int len = static_cast<int>(strlen(text));
  char* lf = strchr(text, '\n');
  if (lf != nullptr) *lf = '\0';
  return len;
}

int cBTCmd::takeReply(char* out) {
  if (!waitReply()) return 0;
  pthread_mutex_lock(&mReplyMutex);
  int len = mReplyLen;
  memcpy(out, mReply, len);
  mReply[len] = '\0';
  pthread_mutex_unlock(&mReplyMutex);
  mReplyReady = false;
  pthread_cond_signal(&mReplyCond);
  return len;
}
