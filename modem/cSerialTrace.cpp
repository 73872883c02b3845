#include "modem/cSerialTrace.h"

#include <errno.h>
#include <fcntl.h>
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

// A new file holding only the header; -1 with errno set when it cannot be made.
int createFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0640);
  if (fd < 0) return -1;
  unsigned char header[cSerialTrace::kHeaderSize] = {};
  memcpy(header, cSerialTrace::kMagic, 8);
  putLE(header + 8, cSerialTrace::kVersion, 2);
  putLE(header + 10, cSerialTrace::kHeaderSize, 2);
  if (::write(fd, header, sizeof header) != static_cast<ssize_t>(sizeof header)) {
    int err = errno != 0 ? errno : ENOSPC;
    close(fd);
    errno = err;
    return -1;
  }
  return fd;
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

cSerialTrace* cSerialTrace::open(const std::string& path, int limit, std::string* why) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && st.st_size > 0 &&
      rename(path.c_str(), (path + ".1").c_str()) != 0) {
    *why = "keeping the last trace as .1: " + errText(errno);
    return nullptr;
  }
  int fd = createFile(path);
  if (fd < 0) {
    *why = errText(errno);
    return nullptr;
  }
  cSerialTrace* trace = new cSerialTrace(path, std::max(limit, kMinLimit), fd);
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

cSerialTrace::cSerialTrace(const std::string& path, int limit, int fd)
    : cYlog("cSerialTrace"),
      mPath(path),
      mLimit(limit),
      mFd(fd),
      mFileSize(kHeaderSize),
      mThread(),
      mLostPending{0, 0},
      mStop(false),
      mLostTotal(0),
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
    guard.run([this, &chunk] {
      writeOut(chunk);
      uint64_t total = lost();
      if (total != mLostSaid && mWarnings.pass()) {
        warn("Serial trace %s: %llu bytes not recorded in all, the writing fell behind%s",
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

// Whole records only: the file is rotated between records, never inside one.
void cSerialTrace::writeOut(const std::vector<unsigned char>& chunk) {
  size_t at = 0;
  while (at < chunk.size() && mFd >= 0) {
    size_t end = at;
    while (end < chunk.size()) {
      size_t len = kRecordHeaderSize + (chunk[end + 10] | (chunk[end + 11] << 8));
      if (mFileSize + static_cast<int64_t>(end - at + len) > mLimit) break;
      end += len;
    }
    if (end == at) {
      if (!rotate()) break;
      continue;
    }
    if (!writeAll(chunk.data() + at, end - at)) break;
    at = end;
  }
  if (at < chunk.size()) mLostTotal.fetch_add(chunk.size() - at, std::memory_order_relaxed);
}

// A failed write is taken back, so the file keeps whole records.
bool cSerialTrace::writeAll(const unsigned char* data, size_t len) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::write(mFd, data + done, len - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      int err = n < 0 ? errno : ENOSPC;
      if (ftruncate(mFd, mFileSize) != 0) {
        close(mFd);
        mFd = -1;
      }
      if (mWarnings.pass())
        warn("Serial trace %s: write failed (%s), %zu bytes lost%s", mPath.c_str(),
             errText(err).c_str(), len, mWarnings.held());
      return false;
    }
  }
  mFileSize += static_cast<int64_t>(len);
  return true;
}

bool cSerialTrace::rotate() {
  close(mFd);
  mFd = -1;
  if (rename(mPath.c_str(), (mPath + ".1").c_str()) != 0) {
    error("Serial trace %s: cannot rename it to .1 (%s): tracing stops", mPath.c_str(),
          errText(errno).c_str());
    return false;
  }
  mFd = createFile(mPath);
  if (mFd < 0) {
    error("Serial trace %s: cannot start a new file (%s): tracing stops", mPath.c_str(),
          errText(errno).c_str());
    return false;
  }
  mFileSize = kHeaderSize;
  return true;
}
