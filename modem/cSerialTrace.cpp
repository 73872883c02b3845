#include "modem/cSerialTrace.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "support/cLoopGuard.h"
#include "support/cProperties.h"
#include "support/monotonicCond.h"

namespace {

const char* const kPathKey = "ferryd.io.trace";
const char* const kLimitKey = "ferryd.io.tracesize";
const int kLostDataSize = 4;  // a lost record's data: u32 count of bytes not recorded
// The buffer (256 KB) holds 5 ms of 50 MB/s, and 20 s of a 115200-baud UART.
const long kGatherNs = 5 * 1000 * 1000;

void putLE(unsigned char* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::string errText(int err) {
  return std::string(strerror(err)) + " err(" + std::to_string(err) + ")";
}

uint64_t getLE(const unsigned char* in, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | in[i];
  return value;
}

size_t recordSize(const unsigned char* record) {
  return cSerialTrace::kRecordHeaderSize + getLE(record + 10, 2);
}

// The length of the whole records at the start of data[0, len).
size_t wholeRecords(const unsigned char* data, size_t len) {
  size_t at = 0;
  while (at + cSerialTrace::kRecordHeaderSize <= len && at + recordSize(data + at) <= len)
    at += recordSize(data + at);
  return at;
}

// What is at the trace path when it is neither a regular file nor a FIFO.
std::string kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// The trace file, new and holding only the header: a regular file (*rotates), or the FIFO
// already at path. Never blocks: a FIFO without a reader fails at once (ENXIO); once open, a
// FIFO blocks like a slow disk, which only the writing thread feels. -1 with errno set when it
// cannot be made.
int openTraceFile(const std::string& path, bool* rotates) {
  int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_NONBLOCK | O_CLOEXEC, 0640);
  if (fd < 0) return -1;
  struct stat st;
  int err = 0;
  if (fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode)) {
    err = EINVAL;  // replaced by something else since it was looked at
  } else if (fcntl(fd, F_SETFL, O_APPEND) != 0) {
    err = errno;
  } else {
    unsigned char header[cSerialTrace::kHeaderSize] = {};
    memcpy(header, cSerialTrace::kMagic, 8);
    putLE(header + 8, cSerialTrace::kVersion, 2);
    putLE(header + 10, cSerialTrace::kHeaderSize, 2);
    ssize_t n = ::write(fd, header, sizeof header);
    if (n != static_cast<ssize_t>(sizeof header)) err = n < 0 ? errno : ENOSPC;
  }
  if (err != 0) {
    close(fd);
    errno = err;
    return -1;
  }
  *rotates = S_ISREG(st.st_mode);
  return fd;
}

// A write to a FIFO whose reader has gone raised SIGPIPE at the writing thread, which blocks it:
// taken here, it never reaches the process.
void takeSigpipe() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  timespec now = {0, 0};
  while (sigtimedwait(&set, nullptr, &now) == SIGPIPE) {
  }
}

}  // namespace

constexpr char cSerialTrace::kMagic[9];

cSerialTrace* cSerialTrace::fromConfig(const cProperties& props) {
  std::string path = props.getString(kPathKey, "");
  if (path.empty()) return nullptr;
  cYlog log("cSerialTrace");
  int limit = props.getInt(kLimitKey, kDefaultLimit);
  if (limit < kMinLimit) {
    log.warn("%s: %s = %d is below %d bytes, using the default %d", props.path().c_str(), kLimitKey,
             limit, kMinLimit, kDefaultLimit);
    limit = kDefaultLimit;
  }
  std::string why;
  cSerialTrace* trace = open(path, limit, &why);
  if (trace == nullptr) {
    log.error("%s: %s = %s cannot be written (%s): the serial line is not traced",
              props.path().c_str(), kPathKey, path.c_str(), why.c_str());
    return nullptr;
  }
  log.info("Serial line traced in %s, at most %d bytes a file, the one before kept as %s.1",
           path.c_str(), limit, path.c_str());
  return trace;
}

// Only a regular file is kept as .1 and rotated: a directory, a device or the log folder itself
// must never be moved aside. A FIFO is written as a stream when its reader is there.
cSerialTrace* cSerialTrace::open(const std::string& path, int limit, std::string* why) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode)) {
      *why = kindOf(st.st_mode) + ", not a regular file or a FIFO; left as it is";
      return nullptr;
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0 && rename(path.c_str(), (path + ".1").c_str()) != 0) {
      *why = "keeping the last trace as .1: " + errText(errno);
      return nullptr;
    }
  }
  bool rotates = false;
  int fd = openTraceFile(path, &rotates);
  if (fd < 0) {
    *why = errno == ENXIO ? "a FIFO that nobody reads" : errText(errno);
    return nullptr;
  }
  cSerialTrace* trace = new cSerialTrace(path, std::max(limit, kMinLimit), fd, rotates);
  int rc = pthread_create(&trace->mThread, nullptr, &cSerialTrace::writerEntry, trace);
  if (rc != 0) {
    trace->mStop = true;  // nothing to join
    close(fd);
    trace->mFd = -1;
    delete trace;
    *why = "no thread to write it: " + errText(rc);
    return nullptr;
  }
  return trace;
}

cSerialTrace::cSerialTrace(const std::string& path, int limit, int fd, bool rotates)
    : cYlog("cSerialTrace"),
      mPath(path),
      mLimit(limit),
      mFd(fd),
      mRotates(rotates),
      mFileSize(kHeaderSize),
      mThread(),
      mLostPending{0, 0},
      mStop(false),
      mLostTotal(0),
      mUnwritten{0, 0},
      mUnwrittenNs{0, 0},
      mLostSaid(0) {
  pthread_mutex_init(&mMutex, nullptr);
  initMonotonicCond(&mWake);
  mFill.reserve(kBufferSize);
}

cSerialTrace::~cSerialTrace() {
  pthread_mutex_lock(&mMutex);
  bool running = !mStop;
  mStop = true;
  pthread_cond_signal(&mWake);
  pthread_mutex_unlock(&mMutex);
  if (running) pthread_join(mThread, nullptr);
  if (mFd >= 0) close(mFd);
  pthread_cond_destroy(&mWake);
  pthread_mutex_destroy(&mMutex);
}

void cSerialTrace::put(uint64_t ns, Dir dir, Type type, const void* data, int len) {
  unsigned char header[kRecordHeaderSize];
  putLE(header, ns, 8);
  header[8] = static_cast<unsigned char>(dir);
  header[9] = static_cast<unsigned char>(type);
  putLE(header + 10, static_cast<uint64_t>(len), 2);
  mFill.insert(mFill.end(), header, header + kRecordHeaderSize);
  const unsigned char* p = static_cast<const unsigned char*>(data);
  mFill.insert(mFill.end(), p, p + len);
}

// Only a copy under the lock: the buffer never grows (its capacity is reserved), and the writer
// holds the lock only to swap buffers. A record that does not fit is dropped; the next one that
// fits in the same direction is preceded by a lost record with the count.
void cSerialTrace::record(Dir dir, const void* data, int len) {
  if (len <= 0) return;
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ns = static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
  const unsigned char* p = static_cast<const unsigned char*>(data);
  pthread_mutex_lock(&mMutex);
  bool wasEmpty = mFill.empty();
  for (int done = 0; done < len;) {
    int n = std::min(len - done, kMaxRecordData);
    uint64_t& pending = mLostPending[dir];
    size_t need = kRecordHeaderSize + n + (pending != 0 ? kRecordHeaderSize + kLostDataSize : 0);
    if (mStop || mFill.size() + need > kBufferSize) {
      pending += static_cast<uint64_t>(n);
      mLostTotal.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    } else {
      if (pending != 0) {
        unsigned char count[kLostDataSize];
        putLE(count, std::min<uint64_t>(pending, 0xFFFFFFFFu), kLostDataSize);
        put(ns, dir, kLost, count, kLostDataSize);
        pending = 0;
      }
      put(ns, dir, kData, p + done, n);
    }
    done += n;
  }
  if (wasEmpty && !mFill.empty()) pthread_cond_signal(&mWake);
  pthread_mutex_unlock(&mMutex);
}

void* cSerialTrace::writerEntry(void* self) {
  static_cast<cSerialTrace*>(self)->writer();
  return nullptr;
}

// Sleeps until records arrive, then writes everything gathered meanwhile in one go; a slow disk
// only makes the gathered chunks larger (and, once the buffer is full, drops records). After a
// write it pauses briefly, so a busy line costs a wake-up and a write every kGatherNs, not one per
// serial read or write; an idle line costs nothing.
void cSerialTrace::writer() {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);  // see takeSigpipe()
  cLoopGuard guard(*this, "serial trace");
  std::vector<unsigned char> chunk;
  chunk.reserve(kBufferSize);
  for (;;) {
    pthread_mutex_lock(&mMutex);
    while (mFill.empty() && !mStop) pthread_cond_wait(&mWake, &mMutex);
    bool stop = mStop;
    chunk.swap(mFill);
    pthread_mutex_unlock(&mMutex);
    // Building a warning may throw (no memory): it must not end the process from this thread.
    guard.run([this, &chunk, stop] {
      writeOut(chunk);
      if (stop && mFd >= 0) writeGapMarks();  // the file ends with the last gap marked
      uint64_t total = lost();
      if (total != mLostSaid && mWarnings.pass()) {
        warn(
            "Serial trace %s: %llu bytes not recorded in all (the buffer was full or the file "
            "could not be written)%s",
            mPath.c_str(), static_cast<unsigned long long>(total), mWarnings.held());
        mLostSaid = total;
      }
    });
    chunk.clear();
    if (stop) return;
    timespec pause = {0, kGatherNs};
    nanosleep(&pause, nullptr);
  }
}

// Whole records only: a regular file is rotated between records, never inside one. What does not
// reach the file is counted and marked by lost records ahead of the next records that do.
void cSerialTrace::writeOut(const std::vector<unsigned char>& chunk) {
  size_t at = 0;
  while (at < chunk.size() && mFd >= 0 && writeGapMarks()) {
    size_t end = at;
    while (end < chunk.size()) {
      size_t len = recordSize(chunk.data() + end);
      if (mRotates && mFileSize + static_cast<int64_t>(end - at + len) > mLimit) break;
      end += len;
    }
    if (end == at) {
      if (!rotate()) break;
      continue;
    }
    size_t written = writeRecords(chunk.data() + at, end - at);
    bool whole = written == end - at;
    at += written;
    if (!whole) break;
  }
  if (at < chunk.size()) notWritten(chunk.data() + at, chunk.size() - at);
}

// Rotates first when len more bytes would take a regular file past its bound.
bool cSerialTrace::makeRoom(size_t len) {
  if (!mRotates || mFileSize + static_cast<int64_t>(len) <= mLimit) return true;
  return rotate();
}

// One lost record for each direction with bytes that did not reach the file, stamped with the
// time of the last of them: decoding shows the gap where it happened. False when they could not
// be written (the counts are kept for the next try).
bool cSerialTrace::writeGapMarks() {
  const size_t kMarkSize = kRecordHeaderSize + kLostDataSize;
  unsigned char marks[2 * kMarkSize];
  uint32_t counts[2];
  size_t len = 0;
  for (int dir = 0; dir < 2; ++dir) {
    if (mUnwritten[dir] == 0) continue;
    unsigned char* mark = marks + len;
    counts[len / kMarkSize] =
        static_cast<uint32_t>(std::min<uint64_t>(mUnwritten[dir], 0xFFFFFFFFu));
    putLE(mark, mUnwrittenNs[dir], 8);
    mark[8] = static_cast<unsigned char>(dir);
    mark[9] = kLost;
    putLE(mark + 10, kLostDataSize, 2);
    putLE(mark + 12, counts[len / kMarkSize], kLostDataSize);
    len += kMarkSize;
  }
  if (len == 0) return true;
  if (!makeRoom(len)) return false;
  size_t written = writeRecords(marks, len);
  for (size_t at = 0; at < written; at += kMarkSize)
    mUnwritten[marks[at + 8]] -= counts[at / kMarkSize];
  return written == len;
}

// Writes whole records; returns how many bytes of whole records reached the file. A failed write
// is cut back to the last whole record, so the file never holds part of one; where that is not
// possible (a FIFO, a failed truncation) tracing stops.
size_t cSerialTrace::writeRecords(const unsigned char* data, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::write(mFd, data + done, len - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      int err = n < 0 ? errno : ENOSPC;
      if (err == EPIPE) takeSigpipe();
      size_t whole = wholeRecords(data, done);
      bool stops = !mRotates || ftruncate(mFd, mFileSize + static_cast<int64_t>(whole)) != 0;
      if (stops) {
        close(mFd);
        mFd = -1;
        error("Serial trace %s: write failed (%s): tracing stops", mPath.c_str(),
              errText(err).c_str());
      } else if (mWarnings.pass()) {
        warn("Serial trace %s: write failed (%s): bytes not written are marked as lost%s",
             mPath.c_str(), errText(err).c_str(), mWarnings.held());
      }
      mFileSize += static_cast<int64_t>(whole);
      return whole;
    }
  }
  mFileSize += static_cast<int64_t>(len);
  return len;
}

// Counts the records' bytes as not recorded: a data record's bytes, a lost record's count.
void cSerialTrace::notWritten(const unsigned char* data, size_t len) {
  for (size_t at = 0; at < len; at += recordSize(data + at)) {
    const unsigned char* r = data + at;
    int dir = r[8] & 1;
    uint64_t count = getLE(r + 10, 2);
    if (r[9] == kLost) {
      count = getLE(r + kRecordHeaderSize, kLostDataSize);  // already in mLostTotal
    } else {
      mLostTotal.fetch_add(count, std::memory_order_relaxed);
    }
    mUnwritten[dir] += count;
    mUnwrittenNs[dir] = std::max(mUnwrittenNs[dir], getLE(r, 8));
  }
}

// Only while the path still holds a regular file: whatever else was put there is left alone.
bool cSerialTrace::rotate() {
  close(mFd);
  mFd = -1;
  struct stat st;
  if (stat(mPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    error("Serial trace %s: now %s, not rotated: tracing stops", mPath.c_str(),
          kindOf(st.st_mode).c_str());
    return false;
  }
  if (rename(mPath.c_str(), (mPath + ".1").c_str()) != 0) {
    error("Serial trace %s: cannot rename it to .1 (%s): tracing stops", mPath.c_str(),
          errText(errno).c_str());
    return false;
  }
  mFd = openTraceFile(mPath, &mRotates);
  if (mFd < 0) {
    error("Serial trace %s: cannot start a new file (%s): tracing stops", mPath.c_str(),
          errText(errno).c_str());
    return false;
  }
  mFileSize = kHeaderSize;
  return true;
}
