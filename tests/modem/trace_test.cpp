// The serial trace's writer: the file bound with one older file kept, whole records in order
// across the rotation, and recording that never waits for a stuck disk.
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ferrycat/cCapture.h"
#include "modem/cSerialTrace.h"

namespace {

// A temporary folder, removed with what it holds at the end of the test.
struct cTempDir {
  std::string path;
  cTempDir() {
    char pattern[] = "/tmp/ferryd-trace-XXXXXX";
    EXPECT_NE(nullptr, mkdtemp(pattern));
    path = pattern;
  }
  ~cTempDir() {
    nftw(
        path.c_str(), [](const char* p, const struct stat*, int, FTW*) { return remove(p); }, 8,
        FTW_DEPTH | FTW_PHYS);
  }
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

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

TEST(SerialTrace, RotationKeepsTheBoundAndWholeRecordsInOrder) {
  cTempDir dir;
  std::string path = dir.path + "/serial.trace";
  std::ofstream(path) << "the last run's trace";
  std::string why;
  std::unique_ptr<cSerialTrace> trace(cSerialTrace::open(path, cSerialTrace::kMinLimit, &why));
  ASSERT_TRUE(trace) << why;
  EXPECT_EQ("the last run's trace", readFile(path + ".1"));
  const uint32_t kRecords = 150;  // 150 KB: more than two files of 64 KB, less than the buffer
  for (uint32_t i = 0; i < kRecords; ++i) {
    std::vector<unsigned char> b = recordBytes(i);
    trace->record(i % 2 ? cSerialTrace::kToModule : cSerialTrace::kFromModule, b.data(), 1000);
  }
  trace.reset();  // writes out what is buffered

  // The older file was filled up to the record that did not fit.
  EXPECT_GT(fileSize(path + ".1"), cSerialTrace::kMinLimit - 1012);
  std::vector<cCapture::cRecord> records;
  for (const std::string& file : {path + ".1", path}) {
    EXPECT_LE(fileSize(file), cSerialTrace::kMinLimit) << file;
    cCapture capture;
    ASSERT_TRUE(capture.parse(readFile(file), cCapture::kAuto, cCapture::kFromModule, &why));
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
  signal(SIGPIPE, SIG_IGN);
  cTempDir dir;
  std::string path = dir.path + "/serial.trace";
  ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
  int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string why;
  std::unique_ptr<cSerialTrace> trace(cSerialTrace::open(path, cSerialTrace::kDefaultLimit, &why));
  ASSERT_TRUE(trace) << why;
  std::vector<unsigned char> bytes(4096, 0x55);
  auto recording = std::async(std::launch::async, [&] {
    for (int i = 0; i < 5000; ++i) trace->record(cSerialTrace::kFromModule, bytes.data(), 4096);
  });
  ASSERT_EQ(std::future_status::ready, recording.wait_for(std::chrono::seconds(60)));
  EXPECT_GT(trace->lost(), 5000u * 4096 - 2 * (cSerialTrace::kBufferSize + 65536));
  close(reader);  // the stuck write fails (EPIPE): the writer can end
  trace.reset();
}

}  // namespace
