#include "libferry/cPort.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "ferrycat/cSerialPort.h"

namespace {

// A read of the serial line; a datagram buffer one byte over the largest unit, so that a longer
// datagram is still seen as too long (and dropped as invalid) rather than cut to a valid size.
constexpr size_t kSerialRead = 4096;
constexpr size_t kDatagramRead = YMsg::kHeaderSize + YMsg::kMaxPayload + 1;

long long nowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

long long deadlineAfter(int timeoutMs) {
  return timeoutMs < 0 ? -1 : nowMs() + timeoutMs;
}

}  // namespace

cPort::cPort(std::unique_ptr<cCodec> codec)
    : mCodec(std::move(codec)),
      mFd(-1),
      mClosed(false),
      mSocket(false),
      mInStart(0),
      mInEnd(0),
      mEnded(false),
      mDatagram(false),
      mError{} {}

cPort::~cPort() = default;

int cPort::create(int kind, int segmentSize, std::unique_ptr<cPort>* out) {
  std::unique_ptr<cCodec> codec;
  int rc = cCodec::create(kind, segmentSize, &codec);
  if (rc < 0) return rc;
  out->reset(new cPort(std::move(codec)));
  (*out)->mIn.resize(kind == FERRY_KIND_SERIAL ? kSerialRead : kDatagramRead);
  return 0;
}

int cPort::fail(int code, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vsnprintf(mError, sizeof mError, fmt, args);
  va_end(args);
  return code;
}

int cPort::usable() {
  if (mClosed) return fail(-EBADF, "the port is closed");
  if (mFd < 0) return fail(-EBADF, "the port has no descriptor: open or adopt one first");
  return 0;
}

int cPort::open(const char* path, long baud) {
  if (mFd >= 0 || mClosed) return fail(-EINVAL, "the port already had a descriptor");
  if (mCodec->kind() != FERRY_KIND_SERIAL)
    return fail(-EINVAL, "%s: a tty carries the serial kind, this port is a datagram port", path);
  if (!cSerialPort::knownSpeed(baud)) return fail(-EINVAL, "%s: no such speed: %ld", path, baud);
  std::unique_ptr<cSerialPort> serial(new cSerialPort);
  std::string why;
  errno = 0;
  if (!serial->open(path, baud, &why)) {
    int e = errno != 0 ? errno : EIO;
    return fail(-e, "%s", why.c_str());
  }
  mSerial = std::move(serial);
  mFd = mSerial->fd();
  return 0;
}

int cPort::adopt(int fd) {
  if (mFd >= 0 || mClosed) return fail(-EINVAL, "the port already had a descriptor");
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return fail(-EBADF, "descriptor %d is not open", fd);
  mSocket = S_ISSOCK(st.st_mode);
  mFd = fd;
  return 0;
}

int cPort::wait(short events, long long deadline) {
  for (;;) {
    int timeout = -1;
    if (deadline >= 0) {
      long long left = deadline - nowMs();
      timeout = left <= 0 ? 0 : left > 1000000000 ? 1000000000 : static_cast<int>(left);
    }
    pollfd p = {mFd, events, 0};
    int n = poll(&p, 1, timeout);
    if (n > 0) return (p.revents & POLLNVAL) ? fail(-EBADF, "descriptor %d was closed", mFd) : 1;
    if (n == 0) return 0;
    if (errno != EINTR) return fail(-errno, "poll: %s", strerror(errno));
  }
}

long cPort::writeSome() {
  const uint8_t* data;
  size_t length;
  mCodec->output(&data, &length);
  ssize_t n =
      mSocket ? ::send(mFd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT) : ::write(mFd, data, length);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    return fail(-errno, "write: %s", strerror(errno));
  }
  // A datagram goes whole or not at all; a stream takes what it took.
  mCodec->consume(mCodec->kind() == FERRY_KIND_DATAGRAM ? length : static_cast<size_t>(n));
  return n;
}

int cPort::flushUntil(long long deadline) {
  while (mCodec->pending() > 0) {
    int w = wait(POLLOUT, deadline);
    if (w < 0) return w;
    if (w == 0)
      return fail(-ETIMEDOUT, "%zu bytes not written within the time-out", mCodec->pending());
    long n = writeSome();
    if (n < 0) return static_cast<int>(n);
  }
  return 0;
}

int cPort::flush(int timeoutMs) {
  int rc = usable();
  return rc < 0 ? rc : flushUntil(deadlineAfter(timeoutMs));
}

int cPort::send(const void* data, size_t length, int id, int timeoutMs) {
  int rc = usable();
  if (rc < 0) return rc;
  long long deadline = deadlineAfter(timeoutMs);
  int use = mCodec->send(data, length, id);
  if (use == -EAGAIN) {  // earlier output still waits: it goes first
    rc = flushUntil(deadline);
    if (rc < 0) return rc;
    use = mCodec->send(data, length, id);
  }
  if (use < 0) return fail(use, "%s", mCodec->error());
  rc = flushUntil(deadline);
  return rc < 0 ? rc : use;
}

long cPort::readSome() {
  mInStart = mInEnd = 0;
  ssize_t n;
  if (mSocket && mCodec->kind() == FERRY_KIND_DATAGRAM)
    n = ::recv(mFd, mIn.data(), mIn.size(), MSG_DONTWAIT | MSG_TRUNC);
  else
    n = ::read(mFd, mIn.data(), mIn.size());
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    return fail(-errno, "read: %s", strerror(errno));
  }
  if (n == 0 && mCodec->kind() == FERRY_KIND_SERIAL) {
    mEnded = true;
    return 0;
  }
  // A datagram longer than the buffer counts as that long: feeding it whole makes it invalid.
  mInEnd = static_cast<size_t>(n) > mIn.size() ? mIn.size() : static_cast<size_t>(n);
  if (mCodec->kind() == FERRY_KIND_DATAGRAM) mDatagram = true;
  return n == 0 ? 1 : n;
}

int cPort::takeMessage(const uint8_t** data, size_t* length) {
  for (;;) {
    ferry_event ev;
    while (mCodec->next(&ev) == 1) {
      if (ev.type != FERRY_EVENT_MESSAGE) continue;
      *data = ev.data;
      *length = ev.length;
      return ev.id;
    }
    if (mInStart == mInEnd && !mDatagram) return -1;
    size_t used;
    mCodec->feed(mIn.data() + mInStart, mInEnd - mInStart, &used);
    mInStart += used;
    mDatagram = false;
  }
}

int cPort::recv(const uint8_t** data, size_t* length, int timeoutMs) {
  int rc = usable();
  if (rc < 0) return rc;
  long long deadline = deadlineAfter(timeoutMs);
  for (;;) {
    int id = takeMessage(data, length);
    if (id >= 0) return id;
    if (mEnded) return fail(-EPIPE, "end of stream: the other end closed");
    // Waiting first: a descriptor the caller left blocking must not block the read.
    int w = wait(POLLIN, deadline);
    if (w < 0) return w;
    if (w == 0) return fail(-ETIMEDOUT, "no message within the time-out");
    long n = readSome();
    if (n < 0) return static_cast<int>(n);
  }
}

int cPort::close() {
  mSerial.reset();
  mFd = -1;
  mClosed = true;
  return 0;
}
