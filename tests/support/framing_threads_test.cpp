#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "support/cHDLC.h"

namespace {

struct Encoder {
  const cHDLC* framer;
  std::vector<unsigned char> expected;  // the frame of 256 x 'A', made before the thread starts
  std::atomic<bool> done{false};
  long wrong = 0;
};

void* encodeLoop(void* arg) {
  auto* e = static_cast<Encoder*>(arg);
  std::vector<unsigned char> payload(256, 0x41), out(2 + 2 * (256 + 2));
  for (int i = 0; i < 5000; ++i) {
    int n = 0;
    e->framer->frameData(payload.data(), static_cast<int>(payload.size()), out.data(), &n);
    e->wrong += std::vector<unsigned char>(out.begin(), out.begin() + n) != e->expected;
  }
  e->done.store(true);
  return nullptr;
}

// The north thread frames while the reader thread decodes on the same object.
TEST(HdlcFramingThreads, EncodingOnAnotherThreadDoesNotDisturbDecoding) {
  cHDLC h;
  std::vector<unsigned char> payload(900);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<unsigned char>(i ^ 0x5A);
  std::vector<unsigned char> stream(2 + 2 * (payload.size() + 2));
  int len = 0;
  h.frameData(payload.data(), static_cast<int>(payload.size()), stream.data(), &len);

  Encoder e;
  e.framer = &h;
  std::vector<unsigned char> as(256, 0x41);
  e.expected.resize(2 + 2 * (256 + 2));
  int alen = 0;
  h.frameData(as.data(), 256, e.expected.data(), &alen);
  e.expected.resize(alen);
  pthread_t thread;
  ASSERT_EQ(0, pthread_create(&thread, nullptr, encodeLoop, &e));
  int good = 0, rounds = 0;
  for (; rounds < 200 || !e.done.load(); ++rounds) {
    for (int i = 0; i < len; ++i) {
      unsigned char out[cHDLC::kMaxPayload];
      int n = 0;
      if (h.unFrameByte(stream[i], out, &n)) {
        good += n == static_cast<int>(payload.size()) &&
                std::equal(payload.begin(), payload.end(), out);
      }
    }
  }
  pthread_join(thread, nullptr);
  EXPECT_EQ(rounds, good);
  EXPECT_EQ(0u, h.droppedFrames());
  EXPECT_EQ(0, e.wrong);
}

}  // namespace
