// The serial trace's writer: the file bound with one older file kept, whole records in order
// across the rotation, recording that never waits for a stuck disk, gaps marked where a full
// disk lost records, and paths that are not regular files (never moved aside, never blocking,
// never ending the process with SIGPIPE).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "ferrycat/cCapture.h"
#include "modem/cSerialTrace.h"
#include "tests/common/cTempDir.h"

namespace {

off_t fileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Record i: 1000 bytes, its number in the first four, in direction i % 2.
std::vector<unsigned char> recordBytes(uint32_t i) {
  std::vector<unsigned char> b(1000, static_cast<unsigned char>(i));
  for (int k = 0; k < 4; ++k) b[k] = static_cast<unsigned char>(i >> (8 * k));
  return b;
}

uint32_t recordNumber(const cCapture::cRecord& r) {
  uint32_t i = 0;
  for (int k = 3; k >= 0; --k) i = i << 8 | r.bytes[k];
  return i;
}

void recordRange(cSerialTrace& trace, uint32_t first, uint32_t end) {
  for (uint32_t i = first; i < end; ++i) {
    std::vector<unsigned char> b = recordBytes(i);
    trace.record(i % 2 ? cSerialTrace::kToModule : cSerialTrace::kFromModule, b.data(), 1000);
  }
}

std::vector<cCapture::cRecord> parseTrace(const std::string& bytes) {
  cCapture capture;
  std::string why;
  if (!capture.parse(bytes, cCapture::kTrace, cCapture::kFromModule, &why)) return {};
  return capture.records();
}

uint64_t dataBytes(const std::vector<cCapture::cRecord>& records) {
  uint64_t n = 0;
  for (const cCapture::cRecord& r : records) n += r.lost ? 0 : r.bytes.size();
  return n;
}

// A trace into a new FIFO at path, whose reading end (not read unless the test does) is *reader.
cSerialTrace* fifoTrace(const std::string& path, int limit, int* reader) {
  EXPECT_EQ(0, mkfifo(path.c_str(), 0600));
  *reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_GE(*reader, 0);
  std::string why;
  cSerialTrace* trace = cSerialTrace::open(path, limit, &why);
  EXPECT_NE(nullptr, trace) << why;
  return trace;
}

bool waitUntil(const std::function<bool()>& done) {
  for (int waited = 0; waited < 20000 && !done(); waited += 10) usleep(10 * 1000);
  return done();
}

TEST(SerialTrace, RotationKeepsTheBoundAndWholeRecordsInOrder) {
  cTempDir dir;
  std::string path = dir.path + "/serial.trace";
  std::ofstream(path) << "the last run's trace";
  std::string why;
  std::unique_ptr<cSerialTrace> trace(cSerialTrace::open(path, cSerialTrace::kMinLimit, &why));
  ASSERT_TRUE(trace) << why;
  EXPECT_EQ("the last run's trace", cTempDir::read(path + ".1"));
  const uint32_t kRecords = 150;  // 150 KB: more than two files of 64 KB, less than the buffer
  recordRange(*trace, 0, kRecords);
  trace.reset();  // writes out what is buffered

  // The older file was filled up to the record that did not fit.
  EXPECT_GT(fileSize(path + ".1"), cSerialTrace::kMinLimit - 1012);
  std::vector<cCapture::cRecord> records;
  for (const std::string& file : {path + ".1", path}) {
    EXPECT_LE(fileSize(file), cSerialTrace::kMinLimit) << file;
    cCapture capture;
    ASSERT_TRUE(capture.parse(cTempDir::read(file), cCapture::kAuto, cCapture::kFromModule, &why));
    EXPECT_EQ(cCapture::kTrace, capture.kind());
    EXPECT_EQ("", capture.problem());
    records.insert(records.end(), capture.records().begin(), capture.records().end());
  }
  ASSERT_FALSE(records.empty());
  uint32_t first = recordNumber(records.front());
  for (size_t k = 0; k < records.size(); ++k) {
    const cCapture::cRecord& r = records[k];
    ASSERT_EQ(recordBytes(first + k), r.bytes) << k;
    EXPECT_EQ(static_cast<int>((first + k) % 2), static_cast<int>(r.dir));
    if (k > 0) {
      EXPECT_LE(records[k - 1].ns, r.ns);
    }
  }
  EXPECT_EQ(kRecords - 1, recordNumber(records.back()));
}

// The trace goes into a FIFO nobody reads: the writing thread is stuck in write() after the
// pipe's 64 KB, as on a hung disk. Recording 20 MB must still come back, dropping what does not
// fit, and the writer must stop once the FIFO goes away. The bound is far above what the writer
// gets to write, so no rotation replaces the FIFO with a file that takes everything.
TEST(SerialTrace, RecordingNeverWaitsForTheDisk) {
  cTempDir dir;
  std::string path = dir.path + "/serial.trace";
  int reader = -1;
  std::unique_ptr<cSerialTrace> trace(fifoTrace(path, cSerialTrace::kDefaultLimit, &reader));
  ASSERT_TRUE(trace);
  std::vector<unsigned char> bytes(4096, 0x55);
  auto recording = std::async(std::launch::async, [&] {
    for (int i = 0; i < 5000; ++i) trace->record(cSerialTrace::kFromModule, bytes.data(), 4096);
  });
  ASSERT_EQ(std::future_status::ready, recording.wait_for(std::chrono::seconds(60)));
  EXPECT_GT(trace->lost(), 5000u * 4096 - 2 * (cSerialTrace::kBufferSize + 65536));
  close(reader);  // the stuck write fails (EPIPE, SIGPIPE left at its default): the writer can end
  trace.reset();
}

// A full disk: records that fail to reach the file are counted and, once space returns, marked
// by lost records just where they are missing, each with the count of its direction.
TEST(SerialTrace, AFullDiskLeavesAGapMarkedWhereItIs) {
  cTempDir dir;
  if (mount("ferryd-trace", dir.path.c_str(), "tmpfs", 0, "size=200k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs to fill (" << strerror(errno) << ")";
  struct cUnmount {
    std::string path;
    ~cUnmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{dir.path};
  std::string filler = dir.path + "/filler";
  std::ofstream(filler) << std::string(150 * 1024, 'x');
  std::string path = dir.path + "/serial.trace";
  std::string why;
  std::unique_ptr<cSerialTrace> trace(cSerialTrace::open(path, cSerialTrace::kDefaultLimit, &why));
  ASSERT_TRUE(trace) << why;

  // 150 KB of records where about 50 KB are free; every byte ends up on file or counted lost.
  recordRange(*trace, 0, 150);
  ASSERT_TRUE(waitUntil([&] {
    return dataBytes(parseTrace(cTempDir::read(path))) + trace->lost() == 150 * 1000;
  })) << "on file "
      << dataBytes(parseTrace(cTempDir::read(path))) << ", lost " << trace->lost();
  EXPECT_GT(trace->lost(), 0u);
  ASSERT_EQ(0, unlink(filler.c_str()));
  recordRange(*trace, 150, 210);
  trace.reset();

  // Before each data record, the lost records since the one before count exactly the bytes of
  // each direction that are missing between the two.
  std::vector<cCapture::cRecord> records = parseTrace(cTempDir::read(path));
  uint64_t marked[2] = {0, 0};
  uint32_t next = 0;
  int gaps = 0;
  for (const cCapture::cRecord& r : records) {
    if (r.lost) {
      marked[r.dir] += r.lostBytes;
      continue;
    }
    uint32_t number = recordNumber(r);
    ASSERT_EQ(recordBytes(number), r.bytes);
    ASSERT_LE(next, number);
    uint64_t missing[2] = {0, 0};
    for (uint32_t i = next; i < number; ++i) missing[i % 2] += 1000;
    EXPECT_EQ(missing[0], marked[0]) << "before record " << number;
    EXPECT_EQ(missing[1], marked[1]) << "before record " << number;
    gaps += number > next ? 1 : 0;
    marked[0] = marked[1] = 0;
    next = number + 1;
  }
  EXPECT_EQ(210u, next);  // all after the space came back
  EXPECT_EQ(1, gaps);
}

// Only a regular file is moved aside: a directory or a device at the path is refused and left
// as it is, and a FIFO without a reader is refused at once instead of blocking the start.
TEST(SerialTrace, APathThatIsNotARegularFileIsLeftAlone) {
  cTempDir dir;
  std::string folder = dir.path + "/tdir";
  ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
  std::ofstream(folder + "/kept") << "kept";
  std::string why;
  EXPECT_EQ(nullptr, cSerialTrace::open(folder, cSerialTrace::kMinLimit, &why));
  EXPECT_EQ(0u, why.find("a directory")) << why;
  EXPECT_EQ("kept", cTempDir::read(folder + "/kept"));
  EXPECT_EQ(-1, fileSize(folder + ".1"));
  EXPECT_EQ(nullptr, cSerialTrace::open("/dev/null", cSerialTrace::kMinLimit, &why));
  EXPECT_EQ(0u, why.find("a character device")) << why;

  std::string fifo = dir.path + "/serial.trace";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  EXPECT_EQ(nullptr, cSerialTrace::open(fifo, cSerialTrace::kMinLimit, &why));
  EXPECT_EQ("a FIFO that nobody reads", why);
}

// A FIFO with its reader is a stream: written past the bound without rotation, and a reader that
// leaves ends the tracing, never the process (SIGPIPE is left at its default here).
TEST(SerialTrace, AFifoIsAStreamWhoseReaderMayLeave) {
  cTempDir dir;
  std::string path = dir.path + "/serial.trace";
  int reader = -1;
  std::unique_ptr<cSerialTrace> trace(fifoTrace(path, cSerialTrace::kMinLimit, &reader));
  ASSERT_TRUE(trace);
  const size_t kWanted = cSerialTrace::kHeaderSize + 100 * 1012;
  auto reading = std::async(std::launch::async, [reader, kWanted] {
    std::string got;
    char buf[65536];
    pollfd pfd = {reader, POLLIN, 0};
    while (got.size() < kWanted && poll(&pfd, 1, 20000) > 0) {
      ssize_t n = read(reader, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  });
  recordRange(*trace, 0, 100);
  std::vector<cCapture::cRecord> records = parseTrace(reading.get());
  ASSERT_EQ(100u, records.size());
  for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(recordBytes(i), records[i].bytes) << i;
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(-1, fileSize(path + ".1"));

  close(reader);
  recordRange(*trace, 100, 101);
  EXPECT_TRUE(waitUntil([&] { return trace->lost() == 1000; })) << trace->lost();
  trace.reset();
}

}  // namespace
