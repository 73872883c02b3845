#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "bench/soak/cSoak.h"

// The far end of one direction: matches what arrives against the messages sent, in order, and
// tells the sender how much is still in flight.
class cSoakTrack {
 public:
  cSoakTrack(const cSoakOptions& options, int direction);

  // The sender: waits until the next message fits the window (or nothing moved for stallMs),
  // then records it as sent.
  void beforeSend(long index, size_t size, int stallMs);
  // The receiving simulator's thread.
  void onMessage(int id, const std::vector<uint8_t>& payload);
  // Waits until every sent message is accounted for, or nothing moved for stallMs.
  void waitDone(int stallMs);
  // The final figures: what never arrived counts as lost.
  cSoakCount result() const;
  long received() const;

 private:
  bool matches(long index, int id, const std::vector<uint8_t>& payload) const;

  const cSoakOptions mOptions;
  const int mDirection;
  mutable std::mutex mMutex;
  std::condition_variable mMoved;
  std::vector<uint64_t> mSentBytes;  // payload bytes sent before message i
  long mNext = 0;                    // index of the next message expected
  cSoakCount mCount;
};
