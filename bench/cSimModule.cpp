#include "bench/cSimModule.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "bench/cBenchClock.h"
#include "bench/cSimPeer.h"

namespace {

// Polls done() every 5 ms until it holds or timeoutMs have passed. Polling rather than a timed
// condition wait keeps the simulator usable under libfaketime together with ThreadSanitizer.
template <class Done>
bool pollUntil(Done done, int timeoutMs) {
  double end = benchNow() + timeoutMs / 1000.0;
  for (;;) {
    if (done()) return true;
    if (benchNow() >= end) return false;
    usleep(5 * 1000);
  }
}

const size_t kMaxLine = 4096;

}  // namespace

cSimModule::cSimModule()
    : mServing(false),
      mMaster(-1),
      mSlave(-1),
      mWakePipe{-1, -1},
      mStop(false),
      mBypass(false),
      mPaused(false),
      mBytesReceived(0),
      mRecordRaw(false),
      mAirMaster(-1),
      mAirSlave(-1),
      mLog("cSimModule"),
      mPeer(new cSimPeer(mLog)),
      mSeq(0),
      mBuildVersion("ABSIM-3.1.4"),
      mBDAddress("0016A4B1C2D3"),
      mDeviceName("Bramblefox"),
      mPIN("1234") {
  char link[] = "/tmp/ferryd-tty-XXXXXX";
  int placeholder = mkstemp(link);
  if (placeholder < 0) throw std::runtime_error("cSimModule: mkstemp failed");
  close(placeholder);
  mTtyPath = link;
  openTerminal();
  if (pipe2(mWakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error(std::string("pipe failed: ") + strerror(errno));
  }
  pthread_mutex_init(&mMutex, nullptr);
  pthread_mutex_init(&mWriteMutex, nullptr);
  if (pthread_create(&mThread, nullptr, serveEntry, this) != 0) {
    throw std::runtime_error("cSimModule: could not start its thread");
  }
  mServing = true;
}

// The slave starts "cooked" at 9600 baud with echo off, so the daemon's settings are visible
// afterwards and nothing is echoed back before the daemon has set the line up.
void cSimModule::openTerminal() {
  char name[128];
  if (openpty(&mMaster, &mSlave, name, nullptr, nullptr) != 0) {
    throw std::runtime_error(std::string("openpty failed: ") + strerror(errno));
  }
  mSlavePath = name;
  termios tio;
  tcgetattr(mSlave, &tio);
  tio.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE);
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  tcsetattr(mSlave, TCSANOW, &tio);
  fcntl(mMaster, F_SETFD, FD_CLOEXEC);
  fcntl(mSlave, F_SETFD, FD_CLOEXEC);
  unlink(mTtyPath.c_str());
  if (symlink(name, mTtyPath.c_str()) != 0) {
    throw std::runtime_error(std::string("symlink failed: ") + strerror(errno));
  }
}

void cSimModule::hangUp() {
  if (!mServing) return;
  mStop = true;
  wake();
  pthread_join(mThread, nullptr);
  mServing = false;
  close(mMaster);
  close(mSlave);
  mMaster = -1;
  mSlave = -1;
}

bool cSimModule::reopen() {
  if (mServing) return true;
  try {
    openTerminal();
  } catch (const std::exception& e) {
    mLog.warn("reopen: %s", e.what());
    return false;
  }
  pthread_mutex_lock(&mMutex);
  mBypass = false;
  mLine.clear();
  mPeer->reset();
  pthread_mutex_unlock(&mMutex);
  mStop = false;
  if (pthread_create(&mThread, nullptr, serveEntry, this) != 0) return false;
  mServing = true;
  return true;
}

std::string cSimModule::enableAir() {
  if (mAirMaster >= 0) return mAirPath;
  char name[128];
  int master = -1, slave = -1;
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
    throw std::runtime_error(std::string("openpty failed: ") + strerror(errno));
  termios tio;
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);  // nothing echoed back into the daemon's stream before a peer sets it up
  tcsetattr(slave, TCSANOW, &tio);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(master, F_SETFL, O_NONBLOCK);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  char link[] = "/tmp/ferryd-air-XXXXXX";
  int placeholder = mkstemp(link);
  if (placeholder >= 0) close(placeholder);
  unlink(link);
  if (placeholder < 0 || symlink(name, link) != 0) {
    close(master);
    close(slave);
    throw std::runtime_error("cSimModule: no link to the air's tty");
  }
  mAirPath = link;
  mAirSlave = slave;
  mAirMaster = master;  // the serving thread polls it from its next round on
  wake();
  return mAirPath;
}

cSimModule::~cSimModule() {
  hangUp();
  unlink(mTtyPath.c_str());
  if (mAirMaster >= 0) {
    close(mAirMaster);
    close(mAirSlave);
    unlink(mAirPath.c_str());
  }
  close(mWakePipe[0]);
  close(mWakePipe[1]);
  pthread_mutex_destroy(&mWriteMutex);
  pthread_mutex_destroy(&mMutex);
}

void* cSimModule::serveEntry(void* self) {
  static_cast<cSimModule*>(self)->serve();
  return nullptr;
}

void cSimModule::serve() {
  unsigned char buf[4096];
  while (!mStop) {
    bool reading = !mPaused && mAirOut.size() < kAirBacklog;
    int air = mAirMaster;
    short airEvents = static_cast<short>(POLLIN | (mAirOut.empty() ? 0 : POLLOUT));
    pollfd fds[3] = {{mMaster, static_cast<short>(reading ? POLLIN : 0), 0},
                     {mWakePipe[0], POLLIN, 0},
                     {air, airEvents, 0}};
    int rc = poll(fds, air >= 0 ? 3 : 2, msUntilNextDue());
    if (rc > 0 && (fds[1].revents & POLLIN)) {
      while (read(mWakePipe[0], buf, sizeof buf) > 0) {
      }
    }
    if (rc > 0 && (fds[0].revents & POLLIN)) {
      ssize_t n = read(mMaster, buf, sizeof buf);
      if (n > 0) onBytes(buf, static_cast<size_t>(n));
    } else if (rc > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
      usleep(10 * 1000);  // no slave side: do not spin
    }
    if (rc > 0 && air >= 0) serveAir(fds[2].revents);
    sendDue();
  }
}

// Bytes from the air reach the daemon in bypass mode only; the daemon's bytes go out as the air's
// reader takes them.
void cSimModule::serveAir(short revents) {
  unsigned char buf[4096];
  if (revents & POLLIN) {
    ssize_t n = read(mAirMaster, buf, sizeof buf);
    if (n > 0 && mBypass)
      writeAll(std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(n)));
  }
  if ((revents & POLLOUT) && !mAirOut.empty()) {
    ssize_t n = write(mAirMaster, mAirOut.data(), mAirOut.size());
    if (n > 0) mAirOut.erase(0, static_cast<size_t>(n));
  }
}

void cSimModule::onBytes(const unsigned char* data, size_t n) {
  mBytesReceived += n;
  double now = benchNow();
  pthread_mutex_lock(&mMutex);
  if (mRecordRaw && mBypass) mRaw.insert(mRaw.end(), data, data + n);
  if (mBypass && mAirMaster >= 0) {
    mAirOut.append(reinterpret_cast<const char*>(data), n);
    n = 0;  // the air's peer takes them, not the scripted one
  }
  for (size_t i = 0; i < n; ++i) {
    if (mBypass) {
      std::vector<std::string> found;
      mPeer->onByte(data[i], &found);
      for (const std::string& c : found) mCommands.push_back({now, c, true});
    } else if (data[i] == '\n') {
      std::string line;
      line.swap(mLine);
      onCommandLine(now, line);
    } else if (data[i] != '\r' && mLine.size() < kMaxLine) {
      mLine += static_cast<char>(data[i]);
    }
  }
  pthread_mutex_unlock(&mMutex);
}

// Lines without "AT+AB" are not commands (stray frame bytes after the daemon left bypass mode).
void cSimModule::onCommandLine(double now, const std::string& line) {
  size_t at = line.find("AT+AB");
  if (at == std::string::npos) return;
  std::string command = line.substr(at);
  mCommands.push_back({now, command, false});
  answer(now, command);
}

void cSimModule::setReply(const std::string& keyword, cReply mode, int delayMs) {
  pthread_mutex_lock(&mMutex);
  mReplies[keyword] = {mode, delayMs};
  pthread_mutex_unlock(&mMutex);
}

void cSimModule::schedule(double due, const std::string& bytes) {
  mQueue.push_back({due, mSeq++, bytes});
}

int cSimModule::msUntilNextDue() const {
  pthread_mutex_lock(&mMutex);
  double next = -1;
  for (const cPending& p : mQueue) {
    if (next < 0 || p.due < next) next = p.due;
  }
  pthread_mutex_unlock(&mMutex);
  if (next < 0) return 1000;
  double ms = (next - benchNow()) * 1000.0;
  if (ms <= 0) return 0;
  return ms > 1000 ? 1000 : static_cast<int>(ms) + 1;
}

void cSimModule::sendDue() {
  double now = benchNow();
  std::vector<cPending> due;
  pthread_mutex_lock(&mMutex);
  auto late = std::stable_partition(mQueue.begin(), mQueue.end(),
                                    [now](const cPending& p) { return p.due > now; });
  due.assign(late, mQueue.end());
  mQueue.erase(late, mQueue.end());
  pthread_mutex_unlock(&mMutex);
  std::sort(due.begin(), due.end(), [](const cPending& a, const cPending& b) {
    return a.due < b.due || (a.due == b.due && a.seq < b.seq);
  });
  for (const cPending& p : due) writeAll(p.bytes);
}

void cSimModule::writeAll(const std::string& bytes) {
  pthread_mutex_lock(&mWriteMutex);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(mMaster, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      mLog.warn("write to the master side failed err(%d) after %zu of %zu bytes", errno, done,
                bytes.size());
      break;
    }
  }
  pthread_mutex_unlock(&mWriteMutex);
}

void cSimModule::wake() {
  char c = 1;
  if (::write(mWakePipe[1], &c, 1) < 0) {
    // the pipe is full: the thread is awake already
  }
}

void cSimModule::sendLine(const std::string& line) {
  writeAll(line + "\r\n");
}

void cSimModule::sendRaw(const std::string& bytes) {
  writeAll(bytes);
}

void cSimModule::sendLineLater(const std::string& line, int delayMs) {
  pthread_mutex_lock(&mMutex);
  schedule(benchNow() + delayMs / 1000.0, line + "\r\n");
  pthread_mutex_unlock(&mMutex);
  wake();
}

bool cSimModule::waitDrained(int timeoutMs) const {
  // Bytes written to the master reach the slave's input queue shortly after the write.
  usleep(20 * 1000);
  for (int waited = 0; waited < timeoutMs; waited += 5) {
    int queued = 0;
    if (ioctl(mSlave, FIONREAD, &queued) != 0 || queued == 0) return true;
    usleep(5 * 1000);
  }
  return false;
}

void cSimModule::enterBypass() {
  pthread_mutex_lock(&mMutex);
  mPeer->reset();
  mBypass = true;
  pthread_mutex_unlock(&mMutex);
  sendLine("AT-AB -BypassMode-");
  waitDrained(1000);
}

void cSimModule::leaveBypass() {
  sendLine("AT-AB -CommandMode-");
  pthread_mutex_lock(&mMutex);
  mBypass = false;
  mLine.clear();
  pthread_mutex_unlock(&mMutex);
  waitDrained(1000);
}

void cSimModule::sendMessage(int id, const std::vector<uint8_t>& payload, int segSize) {
  std::string frames = cSimPeer::frameMessage(id, payload, segSize);
  if (frames.empty()) {
    mLog.warn("message %d of %zu bytes cannot be cut into segments of %d bytes", id, payload.size(),
              segSize);
    return;
  }
  writeAll(frames);
}

std::vector<cSimModule::cCommand> cSimModule::commands() const {
  pthread_mutex_lock(&mMutex);
  std::vector<cCommand> copy = mCommands;
  pthread_mutex_unlock(&mMutex);
  return copy;
}

bool cSimModule::waitForCommand(const std::string& text, int timeoutMs, size_t n) const {
  return pollUntil(
      [&] {
        auto all = commands();
        return static_cast<size_t>(std::count_if(all.begin(), all.end(), [&](const cCommand& c) {
                 return c.line.find(text) != std::string::npos;
               })) >= n;
      },
      timeoutMs);
}

void cSimModule::setMessageSink(
    std::function<void(int id, const std::vector<uint8_t>& payload)> sink) {
  pthread_mutex_lock(&mMutex);
  mPeer->setSink(std::move(sink));
  pthread_mutex_unlock(&mMutex);
}

std::vector<std::vector<uint8_t>> cSimModule::messages() const {
  pthread_mutex_lock(&mMutex);
  std::vector<std::vector<uint8_t>> copy = mPeer->messages();
  pthread_mutex_unlock(&mMutex);
  return copy;
}

std::vector<int> cSimModule::messageIds() const {
  pthread_mutex_lock(&mMutex);
  std::vector<int> copy = mPeer->messageIds();
  pthread_mutex_unlock(&mMutex);
  return copy;
}

std::vector<size_t> cSimModule::segmentSizes() const {
  pthread_mutex_lock(&mMutex);
  std::vector<size_t> copy = mPeer->segmentSizes();
  pthread_mutex_unlock(&mMutex);
  return copy;
}

bool cSimModule::waitForMessages(size_t n, int timeoutMs) const {
  return pollUntil([&] { return messages().size() >= n; }, timeoutMs);
}

unsigned cSimModule::droppedFrames() const {
  pthread_mutex_lock(&mMutex);
  unsigned n = mPeer->droppedFrames();
  pthread_mutex_unlock(&mMutex);
  return n;
}

termios cSimModule::appliedTermios() const {
  termios tio;
  memset(&tio, 0, sizeof tio);
  tcgetattr(mSlave, &tio);
  return tio;
}

size_t cSimModule::bytesReceived() const {
  return mBytesReceived.load();
}

void cSimModule::recordRaw(bool on) {
  mRecordRaw = on;
}

std::vector<uint8_t> cSimModule::rawBypassBytes() const {
  pthread_mutex_lock(&mMutex);
  std::vector<uint8_t> raw = mRaw;
  pthread_mutex_unlock(&mMutex);
  return raw;
}

void cSimModule::clearRawBypassBytes() {
  pthread_mutex_lock(&mMutex);
  mRaw.clear();
  pthread_mutex_unlock(&mMutex);
}

void cSimModule::pauseReading(bool paused) {
  mPaused = paused;
  wake();
}

std::string cSimModule::deviceName() const {
  pthread_mutex_lock(&mMutex);
  std::string name = mDeviceName;
  pthread_mutex_unlock(&mMutex);
  return name;
}

void cSimModule::setConfig(const std::string& buildVersion, const std::string& bdAddress,
                           const std::string& pin) {
  pthread_mutex_lock(&mMutex);
  mBuildVersion = buildVersion;
  mBDAddress = bdAddress;
  mPIN = pin;
  pthread_mutex_unlock(&mMutex);
}
