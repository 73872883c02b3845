#include "ferrycat/cCatOutput.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

cCatOutput::cCatOutput(int fd)
    : mFd(fd), mOwnFd(false), mSocket(false), mOffset(0), mBytes(0), mError(0) {
  struct stat st;
  if (fstat(fd, &st) != 0) return;
  if (S_ISSOCK(st.st_mode)) {
    mSocket = true;
    return;
  }
  int flags = fcntl(fd, F_GETFL);
  if (!(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) || flags < 0 || (flags & O_NONBLOCK)) return;
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  int own = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (own < 0) return;  // no /proc, a device that takes one opener: write as it is
  mFd = own;
  mOwnFd = true;
}

cCatOutput::~cCatOutput() {
  if (mOwnFd) close(mFd);
}

void cCatOutput::add(std::string bytes) {
  if (bytes.empty()) return;
  mBytes += bytes.size();
  mQueue.push_back(std::move(bytes));
}

bool cCatOutput::flush() {
  while (!mQueue.empty()) {
    const std::string& front = mQueue.front();
    const char* data = front.data() + mOffset;
    size_t left = front.size() - mOffset;
    ssize_t n = mSocket ? send(mFd, data, left, MSG_DONTWAIT) : write(mFd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      mError = errno;
      return false;
    }
    mOffset += static_cast<size_t>(n);
    mBytes -= static_cast<size_t>(n);
    if (mOffset == front.size()) {
      mQueue.pop_front();
      mOffset = 0;
    }
  }
  return true;
}
