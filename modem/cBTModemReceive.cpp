#include <errno.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <new>

#include "modem/cBTCmd.h"
#include "modem/cBTModem.h"
#include "modem/cSerialTrace.h"
#include "support/cArgParser.h"
#include "support/cLoopGuard.h"
#include "support/cStats.h"

namespace {

const char kEscape[] = "AT-AB";  // start of the module's next status line: bypass mode is over
const int kEscapeLen = 5;
// After matching i characters and then a mismatch: the length of the longest proper prefix of
// "AT-AB" that is also a suffix of its first i characters.
const int kEscapeFallback[kEscapeLen] = {0, 0, 0, 0, 1};

double monotonicSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

}  // namespace

// clang-format off
const cBTModem::cURC cBTModem::kURCs[] = {
  {"BDAddress",      "BDAddress URC",          nullptr},
  {"-BypassMode-",   "BypassMode Enabled URC", &cBTModem::onBypassURC},
  {"ConnectionDown", "Connection Down URC",    &cBTModem::onConnectionDownURC},
  {"-CommandMode-",  "Command Mode URC",       nullptr},
  {"BondOk",         "Bond Ok (pairing) URC",  &cBTModem::onBondOkURC},
};
// clang-format on

void* cBTModem::readerThreadEntry(void* self) {
  static_cast<cBTModem*>(self)->readerThread();
  return nullptr;
}

void cBTModem::readerThread() {
  cLoopGuard guard(*this, "modem reader");
  for (;;) guard.run([this] { receive(); });
}

// One read: returns with data, or after 5 s without (VTIME). A device that failed or hung up
// answers at once; the reader then waits a second between reads instead of spinning, and opens
// the device again, which brings back a module that went away and came back.
void cBTModem::receive() {
  unsigned char buffer[kReadSize];
  double start = monotonicSeconds();
  ssize_t n = read(mTtyFd, buffer, sizeof buffer);
  int readErrno = errno;
  if (n == 0) {
    if (monotonicSeconds() - start < 0.5) onDeviceDown(&mQuickEofWarned, 0);
    return;
  }
  debug("Received %d bytes", static_cast<int>(n));
  if (n < 0) {
    if (readErrno != EINTR) onDeviceDown(&mReadErrorWarned, readErrno);
    return;
  }
  mQuickEofWarned = false;
  mReadErrorWarned = false;
  mReopenSaid = false;
  if (mTrace != nullptr) mTrace->record(cSerialTrace::kFromModule, buffer, static_cast<int>(n));
  onSerialBytes(buffer, static_cast<int>(n));
}

// Said once per failing spell (err 0: reads end at once, a hang-up); a connection the module
// carried is gone. Then a second's pause and the device opened again.
void cBTModem::onDeviceDown(bool* warned, int err) {
  if (!*warned) {
    if (err == 0) {
      warn("Serial device reads end at once (hung up?): reading once a second");
    } else {
      warn("Serial device read failed err(%d): reading once a second", err);
    }
    onConnectionDownURC();
  }
  *warned = true;
  sleep(1);
  reopenTty();
}

// Each part of the read goes to the mode in force; a part ends where a byte changes the mode.
// Without memory the rest of the read is dropped, with the line being built.
void cBTModem::onSerialBytes(const unsigned char* data, int len) {
  int done = 0;
  try {
    while (done < len) {
      if (mBypass) {
        done += onBypassData(data + done, len - done);
      } else {
        done += onCommandData(data + done, len - done);
      }
    }
  } catch (const std::bad_alloc&) {
    mLineLen = 0;
    mLineCut = false;
    cStats::add(cStats::kNorth, cStats::kOutOfMemory);
    try {
      error("Out of memory: the rest of a serial read of %d bytes dropped", len);
    } catch (const std::bad_alloc&) {
    }
  }
}

int cBTModem::onCommandData(const unsigned char* data, int len) {
  for (int i = 0; i < len; ++i) {
    if (onCommandByte(data[i]) && mBypass) return i + 1;
  }
  return len;
}

// A line longer than mLine holds is cut there; the rest up to its LF is dropped.
bool cBTModem::onCommandByte(unsigned char byte) {
  if (byte == '\n') {
    debug("LF");
    mLine[mLineLen] = '\0';
    onLine(mLine, mLineLen);
    mLineLen = 0;
    mLineCut = false;
    return true;
  }
  if (byte == '\r') return false;
  if (mLineLen < kLineSize - 1) {
    mLine[mLineLen++] = static_cast<char>(byte);
  } else if (!mLineCut) {
    mLineCut = true;
    if (mLongLines.pass())
      warn("Line longer than %d characters: cut, the rest up to its LF dropped%s", kLineSize - 1,
           mLongLines.held());
  }
  return false;
}

// Status lines are acted on even while a command waits: no reply uses their keywords. Other
// lines go to the pending command, read and handed over under mPendingMutex, so an operation
// that withdraws its command waits until a delivery in progress has finished.
void cBTModem::onLine(char* line, int len) {
  debug("Received: %s", line);
  const char* keyword = statusKeyword(line);
  mListener->onLine(line, len, keyword);
  if (keyword == nullptr) {
    pthread_mutex_lock(&mPendingMutex);
    cBTCmd* cmd = mPendingCmd;
    if (cmd != nullptr) cmd->onReplyLine(line, len);
    pthread_mutex_unlock(&mPendingMutex);
    if (cmd != nullptr) return;
  }
  parseURC(line);
}

// First word "AT-AB", second word one of the status keywords; words are separated by blanks.
const char* cBTModem::statusKeyword(const char* line) {
  const char* words[2];
  size_t lengths[2];
  const char* p = line;
  for (int w = 0; w < 2; ++w) {
    while (*p == ' ') ++p;
    words[w] = p;
    while (*p != '\0' && *p != ' ') ++p;
    lengths[w] = static_cast<size_t>(p - words[w]);
  }
  if (lengths[0] != kEscapeLen || strncmp(words[0], kEscape, kEscapeLen) != 0) return nullptr;
  for (const cURC& u : kURCs) {
    if (strlen(u.keyword) == lengths[1] && strncmp(words[1], u.keyword, lengths[1]) == 0)
      return u.keyword;
  }
  return nullptr;
}

void cBTModem::parseURC(char* line) {
  char** words = nullptr;
  try {
    words = cArgParser::parseList(line, ' ', ' ');
  } catch (const std::bad_alloc&) {
    cStats::add(cStats::kNorth, cStats::kOutOfMemory);
    error("Out of memory: line \"%s\" dropped", line);
    return;
  }
  std::unique_ptr<char*[]> owned(words);
  actOnURC(words);
}

void cBTModem::actOnURC(char** words) {
  if (cArgParser::argCnt(words) < 2) {
    debug("Not enough args for a URC");
    return;
  }
  if (strcmp(words[0], "AT-AB") != 0) return;
  debug("Definitely URC");
  for (const cURC& u : kURCs) {
    if (strcmp(words[1], u.keyword) != 0) continue;
    debug("%s", u.logLine);
    if (u.action != nullptr) (this->*u.action)();
    return;
  }
  debug("Unknown URC %s", words[1]);
}

// Bytes after this line's LF are unframed; nothing of the text mode is kept.
void cBTModem::onBypassURC() {
  mListener->onModeChange(cBTModemListener::kBypassEntered);
  mHDLC.reset();
  mURCIdx = 0;
  mBypass = true;
}

void cBTModem::onConnectionDownURC() {
  if (mBypass) mListener->onModeChange(cBTModemListener::kConnectionDown);
  mBypass = false;
}

void cBTModem::onBondOkURC() {
  mListener->onBondOk();
}

// Every byte is unframed first, then tested by the escape detector. The escape ends bypass mode
// at its last byte: the rest of data belongs to command mode. A match can only start at an 'A',
// which a frame never carries raw: while no match is open, everything up to the next 'A' is
// unframed in one go, and the detector sees bytes one at a time only from there.
int cBTModem::onBypassData(const unsigned char* data, int len) {
  int i = 0;
  while (i < len) {
    if (mURCIdx == 0) {
      const void* a = memchr(data + i, kEscape[0], static_cast<size_t>(len - i));
      int stop = a != nullptr ? static_cast<int>(static_cast<const unsigned char*>(a) - data) : len;
      mHDLC.unFrame(data + i, stop - i, &cBTModem::deliverFrame, this);
      i = stop;
      if (i == len) break;
    }
    mHDLC.unFrame(data + i, 1, &cBTModem::deliverFrame, this);
    if (escapeByte(data[i])) {
      leaveBypass();
      return i + 1;
    }
    ++i;
  }
  return len;
}

void cBTModem::deliverFrame(void* self, const unsigned char* frame, int len) {
  static_cast<cBTModem*>(self)->onFrame(frame, len);
}

// A substring search for "AT-AB": a byte that breaks a partial match falls back to the longest
// prefix that still matches ("AT-AT" keeps "AT", "AAT" keeps "AT"). A full match starts over.
bool cBTModem::escapeByte(unsigned char byte) {
  for (;;) {
    if (byte == static_cast<unsigned char>(kEscape[mURCIdx])) break;
    if (mURCIdx == 0) return false;
    mURCIdx = kEscapeFallback[mURCIdx];
  }
  ++mURCIdx;
  debug("mURCIdx %d", mURCIdx);
  if (mURCIdx < kEscapeLen) return false;
  mURCIdx = 0;
  return true;
}

// The escape is the start of the module's next status line: the line builder starts with it.
void cBTModem::leaveBypass() {
  info("Probably need to bail now");
  mBypass = false;
  mHDLC.reset();
  mListener->onModeChange(cBTModemListener::kBypassEscaped);
  memcpy(mLine, kEscape, kEscapeLen);
  mLineLen = kEscapeLen;
  mLineCut = false;
}

void cBTModem::frameDropped(void* self, cHDLC::DropReason reason, int len) {
  static_cast<cBTModem*>(self)->mListener->onFrameDropped(reason, len);
}

void cBTModem::onFrame(const unsigned char* frame, int len) {
  mListener->onFrame(frame, len);
  if (!mHasSink.load(std::memory_order_relaxed)) return;
  pthread_mutex_lock(&mSinkMutex);
  if (mFrameSink != nullptr) mFrameSink(mFrameSinkContext, frame, len);
  pthread_mutex_unlock(&mSinkMutex);
}
