#include "modem/cBTModem.h"

#include <errno.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "io/cIO.h"
#include "modem/cSerialTrace.h"
#include "support/YMsg.h"
#include "support/cStats.h"
#include "support/monotonicCond.h"

namespace {

// Listens to nothing: a driver made without a listener reports to it.
struct cNoListener : cBTModemListener {};
cNoListener sNoListener;

}  // namespace

cBTModem::cBTModem(cNoDevice, cBTModemListener* listener)
    : cYlog("cBTModem"),
      mTtyFd(-1),
      mListener(listener != nullptr ? listener : &sNoListener),
      mTrace(nullptr),
      mBypass(false),
      mLineLen(0),
      mLineCut(false),
      mPendingCmd(nullptr),
      mURCIdx(0),
      mHDLC(),
      mQuickEofWarned(false),
      mReadErrorWarned(false),
      mReopenSaid(false),
      mWriteNext(0),
      mWriteServing(0),
      mHasSink(false),
      mFrameSink(nullptr),
      mFrameSinkContext(nullptr) {
  mLine[0] = '\0';
  pthread_mutex_init(&mPendingMutex, nullptr);
  pthread_mutex_init(&mWriteMutex, nullptr);
  initMonotonicCond(&mWriteTurn);
  pthread_mutex_init(&mSinkMutex, nullptr);
  mHDLC.countDropsIn(cStats::kNorth);
  mHDLC.reportDropsTo(&cBTModem::frameDropped, this);
}

cBTModem::cBTModem(const char* ttyPath, cBTModemListener* listener, cSerialTrace* trace)
    : cBTModem(cNoDevice{}, listener) {
  mTrace = trace;
  resetModule();
  mTtyPath = ttyPath != nullptr ? ttyPath : "";
  mTtyFd = openTty(ttyPath);
  pthread_t thread;
  if (pthread_create(&thread, nullptr, readerThreadEntry, this) == 0) {
    pthread_detach(thread);
  } else {
    error("Could not start the reader thread for %s", ttyPath);
  }
}

void cBTModem::resetModule() {
  cIO::setResetLine(1);
  sleep(1);
  cIO::setResetLine(0);
}

int cBTModem::openTty(const char* path) {
  int fd = open(path, O_RDWR | O_NOCTTY);
  if (fd < 0) {
    int err = errno;
    error("%s Could not be Opened err(%d): %s (errno %d)", path, fd, strerror(err), err);
    return fd;
  }
  debug("%s Opened OK", path);
  configureTty(fd, path);
  return fd;
}

void cBTModem::configureTty(int fd, const char* path) {
  // Built from a zeroed record: every flag not named here ends up off.
  termios tio;
  memset(&tio, 0, sizeof tio);
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  tio.c_cflag &= ~(CRTSCTS | PARENB | CSTOPB);
  tio.c_cflag |= CLOCAL | CREAD | CS8;
  tio.c_iflag &= ~(INPCK | INLCR | ICRNL | IXON | IXANY | IXOFF);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE);
  tio.c_cc[VTIME] = 50;  // a read returns after 5 s without data
  tio.c_cc[VMIN] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    warn("%s: serial settings not applied err(%d)", path, errno);
  }
}

// A hung-up descriptor stays hung up: the path is opened again and the new descriptor put in
// the old one's place (same number, so the writing threads need not know). A device that was
// missing at start (a serial adapter that appears late) is opened the same way and taken as is.
// Reader thread.
bool cBTModem::reopenTty() {
  if (mTtyPath.empty()) return false;
  int fd = open(mTtyPath.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return false;
  configureTty(fd, mTtyPath.c_str());
  takeWriteTurn();  // no write is half done on the old descriptor when it is replaced
  int rc = 0;
  if (mTtyFd < 0) {
    mTtyFd = fd;  // the writers read it only in their turn
    fd = -1;
  } else {
    rc = dup2(fd, mTtyFd);
  }
  endWriteTurn();
  if (fd >= 0) close(fd);
  if (rc < 0) return false;
  mLineLen = 0;  // what came before the hang-up is not continued
  mLineCut = false;
  if (!mReopenSaid) info("%s reopened", mTtyPath.c_str());
  mReopenSaid = true;
  return true;
}

// Writers take turns in the order they arrived, so a command line waits for at most the one
// write in progress (a batch of frames is bounded), however long the message being sent.
int cBTModem::write(const char* data, int len) {
  debug("Transmitting %d bytes", len);
  // The turn ends however the call is left: a turn kept would stop every later writer for good.
  struct cTurn {
    cBTModem* modem;
    ~cTurn() { modem->endWriteTurn(); }
  };
  takeWriteTurn();
  cTurn turn{this};
  int done = 0;
  while (done < len) {
    ssize_t n = ::write(mTtyFd, data + done, len - done);
    if (n > 0) {
      if (mTrace != nullptr) mTrace->record(cSerialTrace::kToModule, data + done, n);
      done += static_cast<int>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      int err = errno;
      if (mTtyFd >= 0 && mWriteErrors.pass())
        warn("Write failed err(%d) after %d of %d bytes%s", err, done, len, mWriteErrors.held());
      break;
    }
  }
  return (done == 0 && len > 0) ? -1 : done;
}

void cBTModem::takeWriteTurn() {
  pthread_mutex_lock(&mWriteMutex);
  uint64_t ticket = mWriteNext++;
  while (ticket != mWriteServing) pthread_cond_wait(&mWriteTurn, &mWriteMutex);
  pthread_mutex_unlock(&mWriteMutex);
}

void cBTModem::endWriteTurn() {
  pthread_mutex_lock(&mWriteMutex);
  ++mWriteServing;
  pthread_cond_broadcast(&mWriteTurn);
  pthread_mutex_unlock(&mWriteMutex);
}

bool cBTModem::sendFrame(const unsigned char* data, int len) {
  if (!mBypass) {
    cStats::add(cStats::kSouth, cStats::kCommandMode);
    return false;
  }
  if (len < 0 || len > cHDLC::kMaxPayload) {
    cStats::add(cStats::kSouth, cStats::kInvalidUnits);
    error("Frame payload of %d bytes dropped: at most %d fit a frame", len, cHDLC::kMaxPayload);
    return false;
  }
  unsigned char out[kFrameBufSize];
  int outLen = cHDLC::frame(data, len, out);
  if (write(reinterpret_cast<const char*>(out), outLen) == outLen) return true;
  cStats::add(cStats::kSouth, cStats::kFailedWrites);
  return false;
}

bool cBTModem::sendSegments(YMsg* msg, int segSize, void (*sent)(void*, int), void* context) {
  unsigned char segment[cHDLC::kMaxPayload];
  unsigned short max = static_cast<unsigned short>(std::min(segSize, cHDLC::kMaxPayload));
  cFrameBatch batch;
  bool whole = true;
  msg->segmentMessage(max);
  msg->resetSegment();
  for (YMsg* seg = msg->getNextSegment(); seg != nullptr; seg = msg->getNextSegment()) {
    int n = seg->getMsg(segment, max);
    if (!mBypass) {
      cStats::add(cStats::kSouth, cStats::kCommandMode);
      whole = false;
    } else if (!batch.add(segment, n)) {
      whole = sendBatch(batch) && whole;
      batch.add(segment, n);
    }
    if (sent != nullptr) sent(context, n);
  }
  return sendBatch(batch) && whole;
}

// Frames gathered while in bypass mode are dropped (and counted) if the mode ended since.
bool cBTModem::sendBatch(cFrameBatch& batch) {
  if (batch.empty()) return true;
  bool ok = false;
  if (!mBypass) {
    cStats::add(cStats::kSouth, cStats::kCommandMode, static_cast<uint64_t>(batch.frames()));
  } else if (write(reinterpret_cast<const char*>(batch.data()), batch.size()) == batch.size()) {
    ok = true;
  } else {
    cStats::add(cStats::kSouth, cStats::kFailedWrites);
  }
  batch.clear();
  return ok;
}

// The reader delivers under mSinkMutex, so replacing the sink waits for a delivery in progress.
void cBTModem::setFrameSink(cFrameSink sink, void* context) {
  pthread_mutex_lock(&mSinkMutex);
  mFrameSink = sink;
  mFrameSinkContext = context;
  mHasSink.store(sink != nullptr);
  pthread_mutex_unlock(&mSinkMutex);
}
