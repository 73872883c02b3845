#pragma once

#include <string>

// A serial device opened for the peer's byte stream: exclusive, raw (8 data bits, no parity, no
// flow control, no echo, no line editing) at a chosen speed, non-blocking, with anything already
// waiting in its queues discarded.
class cSerialPort {
 public:
  cSerialPort() : mFd(-1) {}
  ~cSerialPort();
  cSerialPort(const cSerialPort&) = delete;
  cSerialPort& operator=(const cSerialPort&) = delete;

  // True for a speed the terminal interface knows (9600, 115200, ... 4000000).
  static bool knownSpeed(long baud);
  // False with *why ("/dev/rfcomm0: No such file or directory", "/tmp/x: not a tty").
  bool open(const std::string& path, long baud, std::string* why);
  int fd() const { return mFd; }

 private:
  int mFd;
};
