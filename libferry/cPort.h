#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "libferry/cCodec.h"

class cSerialPort;

// The port behind ferry_port: a codec and a descriptor, with blocking sends and receives that
// wait in poll() and keep to a time-out on CLOCK_MONOTONIC. Failing calls return a negative errno
// value and leave their message in error().
class cPort {
 public:
  static int create(int kind, int segmentSize, std::unique_ptr<cPort>* out);
  ~cPort();

  int open(const char* path, long baud);
  int adopt(int fd);
  int send(const void* data, size_t length, int id, int timeoutMs);
  int flush(int timeoutMs);
  int recv(const uint8_t** data, size_t* length, int timeoutMs);
  int fd() const { return mFd; }
  cCodec& codec() { return *mCodec; }
  const char* error() const { return mError; }
  int close();
  // Sets error() from a printf format; returns code.
  int fail(int code, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

 private:
  explicit cPort(std::unique_ptr<cCodec> codec);
  int usable();
  int flushUntil(long long deadline);
  // Waits until fd is ready for events or the deadline (ms on CLOCK_MONOTONIC, < 0: none)
  // passes: 1 ready, 0 timed out, < 0 failed.
  int wait(short events, long long deadline);
  // One write of queued output; the bytes written (0 when it would block), < 0 failed.
  long writeSome();
  // One read into mIn; the bytes read (0 when it would block), -EPIPE at end of stream.
  long readSome();
  // The next message from bytes already read: its id with *data and *length set, or -1.
  int takeMessage(const uint8_t** data, size_t* length);

  std::unique_ptr<cCodec> mCodec;
  std::unique_ptr<cSerialPort> mSerial;  // a tty this port opened
  int mFd;
  bool mClosed;
  bool mSocket;  // writes use send(MSG_NOSIGNAL)
  std::vector<uint8_t> mIn;
  size_t mInStart;
  size_t mInEnd;
  bool mEnded;     // end of stream seen
  bool mDatagram;  // mIn holds a datagram not yet fed (it may be empty)
  char mError[256];
};
