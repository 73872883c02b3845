#include "check/cCheckModule.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "modem/cBTModem.h"

namespace {

long long nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// 0 when all was written within a second, else the write's errno (ETIMEDOUT: no room came).
int writeAll(int fd, const char* data, size_t len) {
  size_t done = 0;
  long long deadline = nowMs() + 1000;
  while (done < len && nowMs() < deadline) {
    ssize_t n = ::write(fd, data + done, len - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      return errno;
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    }
  }
  return done == len ? 0 : ETIMEDOUT;
}

}  // namespace

bool cCheckModule::query(int fd, int timeoutMs) {
  cBTModem modem(cBTModem::cNoDevice{}, this);
  const char* text = mCmd.getCmdText();
  mWriteError = writeAll(fd, text, strlen(text));
  if (mWriteError != 0) return false;
  long long deadline = nowMs() + timeoutMs;
  unsigned char buf[cBTModem::kReadSize];
  while (!mDone) {
    long long left = deadline - nowMs();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    int rc = poll(&p, 1, static_cast<int>(left));
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) break;
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      modem.onSerialBytes(buf, static_cast<int>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      break;  // hung up
    }
  }
  return mDone;
}

// Every reply line is offered to the command, as the daemon's pending command sees them.
void cCheckModule::onLine(const char* line, int len, const char* keyword) {
  if (mLines++ == 0) mFirstLine.assign(line, len);
  if (keyword != nullptr || mDone) return;
  std::vector<char> copy(line, line + len);
  copy.push_back('\0');
  mDone = mCmd.parseReply(copy.data());
}

void cCheckModule::onModeChange(ModeChange change) {
  if (change == kBypassEntered) mBypass = true;
}

void cCheckModule::onFrame(const unsigned char*, int) {
  mBypass = true;
}

void cCheckModule::onFrameDropped(cHDLC::DropReason, int) {
  mBypass = true;
}
