#include <errno.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "link/cBTMsg.h"
#include "modem/cBTCmd.h"
#include "modem/cBTModem.h"
#include "support/cArgParser.h"

namespace {

const char kEscape[] = "AT-AB";  // start of the module's next status line: bypass mode is over
const int kEscapeLen = 5;

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
  for (;;) receive();
}

// One read: returns with data, or after 5 s without (VTIME). A device that failed or hung up
// answers at once; the reader then waits a second between reads instead of spinning.
void cBTModem::receive() {
  unsigned char buffer[kReadSize];
  double start = monotonicSeconds();
  ssize_t n = read(mTtyFd, buffer, sizeof buffer);
  if (n == 0) {
    if (monotonicSeconds() - start < 0.5) {
      if (!mQuickEofWarned)
        warn("Serial device reads end at once (hung up?): reading once a second");
      mQuickEofWarned = true;
      sleep(1);
    }
    return;
  }
  debug("Received %d bytes", static_cast<int>(n));
  if (n < 0) {
    if (errno != EINTR) sleep(1);
    return;
  }
  if (mBypass) {
    onBypassData(buffer, static_cast<int>(n));
    return;
  }
  for (ssize_t i = 0; i < n; ++i) onCommandByte(buffer[i]);
}

// A line longer than mLine holds is cut there; the rest up to its LF is dropped.
void cBTModem::onCommandByte(unsigned char byte) {
  if (byte == '\n') {
    debug("LF");
    mLine[mLineLen] = '\0';
    onLine(mLine, mLineLen);
    mLineLen = 0;
    mLineCut = false;
  } else if (byte == '\r') {
    return;
  } else if (mLineLen < kLineSize - 1) {
    mLine[mLineLen++] = static_cast<char>(byte);
  } else if (!mLineCut) {
    mLineCut = true;
    warn("Line longer than %d characters: cut, the rest up to its LF dropped", kLineSize - 1);
  }
}

// The pending command is read and handed its line under mPendingMutex, so an operation that
// withdraws its command waits until a delivery in progress has finished.
void cBTModem::onLine(char* line, int len) {
  debug("Received: %s", line);
  pthread_mutex_lock(&mPendingMutex);
  cBTCmd* cmd = mPendingCmd;
  if (cmd != nullptr) cmd->onReplyLine(line, len);
  pthread_mutex_unlock(&mPendingMutex);
  if (cmd == nullptr) parseURC(line);
}

void cBTModem::parseURC(char* line) {
  char** words = cArgParser::parseList(line, ' ', ' ');
  if (cArgParser::argCnt(words) < 2) {
    debug("Not enough args for a URC");
    delete[] words;
    return;
  }
  if (strcmp(words[0], "AT-AB") != 0) {
    delete[] words;
    return;
  }
  debug("Definitely URC");
  const cURC* urc = nullptr;
  for (const cURC& u : kURCs) {
    if (strcmp(words[1], u.keyword) == 0) {
      urc = &u;
      break;
    }
  }
  if (urc == nullptr) {
    debug("Unknown URC %s", words[1]);
  } else {
    debug("%s", urc->logLine);
    if (urc->action != nullptr) (this->*urc->action)();
  }
  delete[] words;
}

void cBTModem::onBypassURC() {
  cBTMsg::requestConnected();
  mHDLC.reset();
  mBypass = true;
}

void cBTModem::onConnectionDownURC() {
  if (mBypass) cBTMsg::requestDiscovery();
  mBypass = false;
}

void cBTModem::onBondOkURC() {
  cBTMsg::requestPaired();
}

// Every byte is unframed first, then tested by the escape detector. After five matched bytes
// the detector starts again from 0.
void cBTModem::onBypassData(const unsigned char* data, int len) {
  for (int i = 0; i < len; ++i) {
    unsigned char frame[cHDLC::kMaxPayload];
    int frameLen = 0;
    if (mHDLC.unFrameByte(data[i], frame, &frameLen)) onFrame(frame, frameLen);
    if (data[i] != static_cast<unsigned char>(kEscape[mURCIdx])) {
      mURCIdx = 0;
      continue;
    }
    ++mURCIdx;
    debug("mURCIdx %d", mURCIdx);
    if (mURCIdx >= kEscapeLen) {
      info("Probably need to bail now");
      mBypass = false;
      mHDLC.reset();
      cBTMsg::requestDiscovery();
      mURCIdx = 0;
    }
  }
}

void cBTModem::onFrame(const unsigned char* frame, int len) {
  cBTMsg::onModemFrame(frame, len);
  cFrameSink sink = mFrameSink;
  if (sink != nullptr) sink(mFrameSinkContext, frame, len);
}
