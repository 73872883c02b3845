#include "bench/soak/cSoakTrack.h"

#include <algorithm>
#include <chrono>

namespace {

const long kLookAhead = 64;  // messages searched either side of the expected one

}  // namespace

cSoakTrack::cSoakTrack(const cSoakOptions& options, int direction)
    : mOptions(options), mDirection(direction) {
  mSentBytes.reserve(static_cast<size_t>(options.count) + 1);
  mSentBytes.push_back(0);
}

void cSoakTrack::beforeSend(long index, size_t size, int stallMs) {
  std::unique_lock<std::mutex> lock(mMutex);
  for (;;) {
    uint64_t inFlight = mSentBytes.back() - mSentBytes[static_cast<size_t>(mNext)];
    if (mNext >= index || inFlight + size <= static_cast<uint64_t>(mOptions.windowBytes)) break;
    long before = mNext;
    mMoved.wait_for(lock, std::chrono::milliseconds(stallMs));
    if (mNext == before) break;  // stalled: send anyway, the loss will show at the far end
  }
  mSentBytes.push_back(mSentBytes.back() + size);
  mCount.sent = index + 1;
}

bool cSoakTrack::matches(long index, int id, const std::vector<uint8_t>& payload) const {
  return (index & 0x7F) == id &&
         payload == cSoak::message(mOptions.seed, mDirection, index, mOptions.maxSize);
}

// Normally the expected message arrives. A later one means those between were lost; an earlier
// one is a duplicate; anything else is corrupted (and takes the expected one's place when its id
// says it is that one).
void cSoakTrack::onMessage(int id, const std::vector<uint8_t>& payload) {
  std::lock_guard<std::mutex> lock(mMutex);
  long last = std::min(mNext + kLookAhead, mCount.sent);
  for (long j = mNext; j < last; ++j) {
    if (!matches(j, id, payload)) continue;
    mCount.lost += j - mNext;
    mNext = j + 1;
    ++mCount.received;
    mCount.bytes += payload.size();
    mMoved.notify_all();
    return;
  }
  for (long j = std::max(0L, mNext - kLookAhead); j < mNext; ++j) {
    if (matches(j, id, payload)) {
      ++mCount.duplicated;
      return;
    }
  }
  ++mCount.corrupted;
  if ((mNext & 0x7F) == id && mNext < mCount.sent) ++mNext;
  mMoved.notify_all();
}

void cSoakTrack::waitDone(int stallMs) {
  std::unique_lock<std::mutex> lock(mMutex);
  while (mNext < mCount.sent) {
    long before = mNext;
    mMoved.wait_for(lock, std::chrono::milliseconds(stallMs));
    if (mNext == before) break;
  }
}

cSoakCount cSoakTrack::result() const {
  std::lock_guard<std::mutex> lock(mMutex);
  cSoakCount c = mCount;
  c.lost += c.sent - mNext;
  return c;
}

long cSoakTrack::received() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mCount.received;
}
