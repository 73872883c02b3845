#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "support/cLogLimit.h"
#include "support/cYlog.h"

class cProperties;

// The serial line's trace ("ferryd.io.trace"): every byte read from and written to the module,
// with its direction and a CLOCK_MONOTONIC time stamp, in the binary format of
// docs/serial-trace.md. Recording copies the bytes into a bounded buffer under a short lock and
// never waits for the disk: what does not fit is dropped, counted, and marked in the file. The
// trace's own thread writes the buffer out; bytes that fail to reach the file (a full disk) are
// counted and marked the same way at the next write that succeeds. A regular file that reaches
// its bound is renamed to <file>.1 (replacing an older one) and a new file begins; a FIFO (with
// its reader already there) is written as a stream, never rotated. Anything else is refused.
class cSerialTrace : public cYlog {
 public:
  // File header: kMagic (8 bytes), version (u16), header size (u16), 4 bytes zero.
  static constexpr char kMagic[9] = "FERRYTRC";
  static constexpr int kVersion = 1;
  static constexpr int kHeaderSize = 16;
  // Record header: time ns (u64), direction (u8), type (u8), length (u16); little-endian.
  static constexpr int kRecordHeaderSize = 12;
  static constexpr int kMaxRecordData = 4096;  // longer writes take several records
  enum Dir { kFromModule = 0, kToModule = 1 };
  enum Type { kData = 0, kLost = 1 };

  static constexpr int kDefaultLimit = 4 * 1024 * 1024;
  static constexpr int kMinLimit = 64 * 1024;
  static constexpr size_t kBufferSize = 256 * 1024;

  // The trace the configuration asks for ("ferryd.io.trace", "ferryd.io.tracesize"), or null:
  // off by default, and off (said in the log) when the file cannot be written.
  static cSerialTrace* fromConfig(const cProperties& props);
  // Opens path, keeping an existing regular file as path.1, and starts the writing thread; null,
  // with the reason in *why, when the path is neither a regular file nor a FIFO with a reader,
  // when the file cannot be made, or when the thread cannot be started. Never blocks.
  static cSerialTrace* open(const std::string& path, int limit, std::string* why);
  // Writes out what is buffered, then stops the thread and closes the file.
  ~cSerialTrace();
  cSerialTrace(const cSerialTrace&) = delete;
  cSerialTrace& operator=(const cSerialTrace&) = delete;

  // Any thread; takes the time stamp now.
  void record(Dir dir, const void* data, int len);
  // Data bytes recorded but not written (the buffer was full, or the write failed), since the
  // start.
  uint64_t lost() const { return mLostTotal.load(std::memory_order_relaxed); }

 private:
  cSerialTrace(const std::string& path, int limit, int fd, bool rotates);
  static void* writerEntry(void* self);
  void writer();
  // Appends one record to mFill (room checked by the caller).
  void put(uint64_t ns, Dir dir, Type type, const void* data, int len);
  void writeOut(const std::vector<unsigned char>& chunk);
  bool makeRoom(size_t len);
  bool writeGapMarks();
  size_t writeRecords(const unsigned char* data, size_t len);
  void notWritten(const unsigned char* data, size_t len);
  bool rotate();

  std::string mPath;
  int mLimit;
  int mFd;
  bool mRotates;      // a regular file; a FIFO is neither bounded nor rotated
  int64_t mFileSize;  // writer thread
  pthread_t mThread;
  pthread_mutex_t mMutex;  // guards mFill, mLostPending and mStop
  pthread_cond_t mWake;    // data arrived, or stop
  std::vector<unsigned char> mFill;
  uint64_t mLostPending[2];  // per direction: bytes dropped since the last lost record
  bool mStop;
  std::atomic<uint64_t> mLostTotal;
  // Writer thread, per direction: data bytes taken from the buffer that did not reach the file
  // since the last lost record written, and the time stamp of the last of them.
  uint64_t mUnwritten[2];
  uint64_t mUnwrittenNs[2];
  uint64_t mLostSaid;   // writer thread: mLostTotal at the last warning
  cLogLimit mWarnings;  // writer thread
};
