#include "ferrycat/cSerialPort.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace {

struct cSpeed {
  long baud;
  speed_t code;
};

// clang-format off
const cSpeed kSpeeds[] = {
  {1200, B1200}, {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200},
  {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
  {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
  {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
  {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};
// clang-format on

const cSpeed* findSpeed(long baud) {
  for (const cSpeed& s : kSpeeds) {
    if (s.baud == baud) return &s;
  }
  return nullptr;
}

}  // namespace

cSerialPort::~cSerialPort() {
  if (mFd >= 0) close(mFd);
}

bool cSerialPort::knownSpeed(long baud) {
  return findSpeed(baud) != nullptr;
}

bool cSerialPort::open(const std::string& path, long baud, std::string* why) {
  const cSpeed* speed = findSpeed(baud);
  if (speed == nullptr) {
    *why = path + ": no such speed: " + std::to_string(baud);
    return false;
  }
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why = path + ": " + strerror(errno);
    return false;
  }
  termios tio;
  if (!isatty(fd) || tcgetattr(fd, &tio) != 0) {
    *why = path + ": not a tty";
    close(fd);
    return false;
  }
  // Another ferrycat (or a program that locks its line the same way) has it: refuse, as two
  // readers would each get part of the stream.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *why = path + ": busy: another program holds it";
    close(fd);
    return false;
  }
  ioctl(fd, TIOCEXCL);
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CRTSCTS | CSTOPB);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, speed->code);
  cfsetospeed(&tio, speed->code);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    *why = path + ": cannot set it up: " + strerror(errno);
    close(fd);
    return false;
  }
  tcflush(fd, TCIOFLUSH);
  mFd = fd;
  return true;
}
