#include "io/cIO.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <new>

#include "link/cBTMsg.h"

namespace {

std::atomic<cIO*> gInstance{nullptr};
std::atomic<void (*)()> gSignalHook{nullptr};

const int kTickTimeoutMs = 1000;

// Number of pins the device reports, or -1 when the request fails or the count is too large to
// allocate sanely.
int pinCount(int fd) {
  int count = ioctl(fd, cIO::kPinCountRequest);
  if (count <= 0 || count > cIO::kMaxPins) return -1;
  return count;
}

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares name with a table entry's name without regard to ASCII case. The entry's name ends at
// its NUL or after kNameSize bytes; nothing beyond those bytes is read.
bool nameMatches(const char* name, const unsigned char* entryName) {
  for (int i = 0; i < cIO::kNameSize; ++i) {
    char a = name[i];
    char b = static_cast<char>(entryName[i]);
    if (asciiLower(a) != asciiLower(b)) return false;
    if (a == '\0') return true;
  }
  return name[cIO::kNameSize] == '\0';  // an entry name filling all its bytes
}

void putRecord(unsigned char* out, int pin, int value) {
  out[0] = static_cast<unsigned char>(pin & 0xFF);
  out[1] = static_cast<unsigned char>((pin >> 8) & 0xFF);
  out[2] = static_cast<unsigned char>(value & 0xFF);
  out[3] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

int get16(const unsigned char* in) {
  return in[0] | (in[1] << 8);
}

long elapsedMs(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

}  // namespace

cIO::cIO(cProperties* props)
    : cYlog("cIO"),
      mPairPin(-1),
      mResetPin(-1),
      mRedPin(-1),
      mGreenPin(-1),
      mFd(-1),
      mLedMode(0),
      mLedLit(false),
      mLedBlink(false),
      mPressCount(0),
      mReadFailing(false) {
  const char* path = props->getString("ferryd.io.pvxio", "/dev/pvxio0");
  mFd = open(path, O_RDWR | O_NONBLOCK);
  if (mFd < 0) {
    int err = errno;
    error(
        "GPIO device %s could not be opened: %s (errno %d): LEDs dark, pairing button not read, "
        "module reset line not driven",
        path, strerror(err), err);
  }
  mPairPin = findPin(mFd, props->getString("ferryd.io.btpair", "BT_PAIR"));
  mResetPin = findPin(mFd, props->getString("ferryd.io.btreset", "BT_RESET"));
  mRedPin = findPin(mFd, props->getString("ferryd.io.btledr", "LED_BT_RED"));
  mGreenPin = findPin(mFd, props->getString("ferryd.io.btledg", "LED_BT_GREEN"));
}

cIO* cIO::instance() {
  return gInstance.load(std::memory_order_acquire);
}

void cIO::create(cProperties* props) {
  if (instance() != nullptr) return;
  cIO* io = new cIO(props);
  io->mLedMode.store(0);
  gInstance.store(io, std::memory_order_release);
  io->updateLeds();  // still in the dark phase: both LEDs off
  setLedLit();       // red on
}

int cIO::findPin(int fd, const char* name) {
  if (fd <= 0 || name == nullptr) return -1;
  int count = pinCount(fd);
  if (count < 0) return -1;
  unsigned char* table = new (std::nothrow) unsigned char[count * kTableEntrySize];
  if (table == nullptr) return -1;
  int result = -1;
  if (ioctl(fd, kPinTableRequest, table) > 0) {
    for (int i = 0; i < count; ++i) {
      const unsigned char* entry = table + i * kTableEntrySize;
      if (nameMatches(name, entry + 4)) result = get16(entry);  // the last match wins
    }
  }
  delete[] table;
  return result;
}

int cIO::readPin(int pin) {
  int count = pinCount(mFd);
  if (count < 0) return -1;
  unsigned char* records = new (std::nothrow) unsigned char[count * kRecordSize];
  if (records == nullptr) return -1;
  ssize_t got = read(mFd, records, count * kRecordSize);
  // A pin that is not among the records gives the read's own result.
  int result = static_cast<int>(got);
  for (ssize_t off = 0; pin >= 0 && off + kRecordSize <= got; off += kRecordSize) {
    if (get16(records + off) == pin) {
      result = get16(records + off + 2);
      break;
    }
  }
  delete[] records;
  return result;
}

int cIO::writePin(int pin, int value) {
  unsigned char record[kRecordSize];
  putRecord(record, pin, value);
  return static_cast<int>(write(mFd, record, sizeof record));
}

void cIO::updateLeds() {
  bool lit = mLedLit.load();
  int mode = mLedMode.load();
  unsigned char records[2 * kRecordSize];
  putRecord(records, mRedPin, lit && mode == 0 ? 1 : 0);
  putRecord(records + kRecordSize, mGreenPin, lit && mode == 1 ? 1 : 0);
  ssize_t ignored = write(mFd, records, sizeof records);
  (void)ignored;
}

void cIO::setLedMode(int mode) {
  cIO* io = instance();
  if (io == nullptr) return;
  io->mLedMode.store(mode);
  io->updateLeds();
}

void cIO::setLedBlink(int on) {
  cIO* io = instance();
  if (io == nullptr) return;
  io->mLedBlink.store(on != 0);
  io->updateLeds();
}

void cIO::setLedLit() {
  cIO* io = instance();
  if (io == nullptr) return;
  io->mLedLit.store(true);
  io->updateLeds();
}

void cIO::setResetLine(int level) {
  cIO* io = instance();
  if (io == nullptr) return;
  unsigned char record[kRecordSize];
  putRecord(record, io->mResetPin, level != 0 ? 1 : 0);
  ssize_t ignored = write(io->mFd, record, sizeof record);
  (void)ignored;
}

void cIO::setSignalHook(void (*hook)()) {
  gSignalHook.store(hook);
}

// Waits until the tick's second is over or pfd (when given) reports input.
void cIO::waitTick(pollfd* pfd, const timespec& tickStart) {
  for (;;) {
    long left = kTickTimeoutMs - elapsedMs(tickStart);
    if (poll(pfd, pfd != nullptr ? 1 : 0, left > 0 ? static_cast<int>(left) : 0) >= 0) return;
    if (errno != EINTR) return;
    void (*hook)() = gSignalHook.load();
    if (hook != nullptr) hook();
  }
}

void cIO::tick() {
  cIO* io = instance();
  if (io != nullptr) io->doTick();
}

// Said once per failing spell. A device that fails may report input at every poll without the
// failed read taking it away: the tick then still lasts its second instead of spinning.
void cIO::onReadFailure(int err, const timespec& tickStart) {
  if (!mReadFailing && mFd > 0)
    warn(
        "GPIO device: reading the pins failed err(%d); the button is not seen until it reads again",
        err);
  mReadFailing = true;
  waitTick(nullptr, tickStart);
}

void cIO::doTick() {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  // Wakes early when the device reports input; the result does not matter.
  pollfd pfd = {mFd, POLLIN, 0};
  waitTick(&pfd, start);

  int button = readPin(mPairPin);
  int err = errno;
  if (button < 0) {
    onReadFailure(err, start);
  } else if (mReadFailing) {
    mReadFailing = false;
    info("GPIO device reads again");
  }
  // The button reads 0 while pressed; anything else (released, failed read) ends a hold.
  if (button != 0) {
    mPressCount = 0;
  } else {
    if (mPressCount < INT_MAX) ++mPressCount;
    if (mPressCount > 2) {
      debug("Enable Pairing");
      cBTMsg::requestPairing();
    }
  }

  if (mLedBlink.load()) {
    mLedLit.store(!mLedLit.load());
  } else {
    mLedLit.store(true);
  }
  updateLeds();
}
