#include "support/YMsg.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr int kLastBit = 0x80;
constexpr int kIdMask = 0x7F;
// A serialised segment must fit the unsigned short size of getMsg and parseMsg.
constexpr size_t kMaxSegmentPayload = 65535 - YMsg::kHeaderSize;

}  // namespace

YMsg::YMsg(int id, int index, bool last)
    : mId(static_cast<uint8_t>(id & kIdMask)),
      mIndex(static_cast<uint16_t>(index)),
      mLast(last),
      mNextSegment(0) {}

YMsg::~YMsg() {
  clearSegments();
}

YMsg* YMsg::parseMsg(const void* data, unsigned short length) {
  if (data == nullptr || length < kHeaderSize) return nullptr;
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t n = bytes[3] | (bytes[4] << 8);
  if (length != kHeaderSize + n) return nullptr;
  std::unique_ptr<YMsg> msg(
      new YMsg(bytes[0] & kIdMask, bytes[1] | (bytes[2] << 8), (bytes[0] & kLastBit) != 0));
  msg->mPayload.assign(bytes + kHeaderSize, bytes + kHeaderSize + n);  // may throw bad_alloc
  return msg.release();
}

YMsg* YMsg::create(int id, const void* payload, size_t length) {
  if (length > kMaxPayload || (payload == nullptr && length > 0)) return nullptr;
  std::unique_ptr<YMsg> msg(new YMsg(id, 0, true));
  const auto* bytes = static_cast<const uint8_t*>(payload);
  if (length > 0) msg->mPayload.assign(bytes, bytes + length);
  return msg.release();
}

void YMsg::clearSegments() {
  for (YMsg* s : mSegments) delete s;
  mSegments.clear();
  mNextSegment = 0;
}

bool YMsg::segmentMessage(int maxBytes) {
  clearSegments();
  if (maxBytes < kHeaderSize + 1) return false;
  size_t chunk = std::min(static_cast<size_t>(maxBytes - kHeaderSize), kMaxSegmentPayload);
  size_t offset = 0;
  int index = 0;
  do {
    size_t n = std::min(chunk, mPayload.size() - offset);
    bool last = offset + n == mPayload.size();
    std::unique_ptr<YMsg> seg(new YMsg(mId, index++, last));
    seg->mPayload.assign(mPayload.begin() + offset, mPayload.begin() + offset + n);
    mSegments.push_back(seg.get());  // may throw: seg is still owned here
    seg.release();
    offset += n;
  } while (offset < mPayload.size());
  return true;
}

void YMsg::resetSegment() {
  mNextSegment = 0;
}

YMsg* YMsg::getNextSegment() {
  if (mNextSegment >= mSegments.size()) return nullptr;
  return mSegments[mNextSegment++];
}

int YMsg::getMsg(void* buffer, unsigned short size) const {
  size_t n = mPayload.size();
  if (buffer == nullptr || n > kMaxSegmentPayload || size < kHeaderSize + n) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  out[0] = static_cast<uint8_t>(mId | (mLast ? kLastBit : 0));
  out[1] = static_cast<uint8_t>(mIndex & 0xFF);
  out[2] = static_cast<uint8_t>(mIndex >> 8);
  out[3] = static_cast<uint8_t>(n & 0xFF);
  out[4] = static_cast<uint8_t>(n >> 8);
  if (n > 0) std::memcpy(out + kHeaderSize, mPayload.data(), n);
  return static_cast<int>(kHeaderSize + n);
}

bool YMsg::addSegment(const YMsg* segment) {
  if (segment == nullptr) return false;
  if (mPayload.size() + segment->mPayload.size() > kMaxPayload) return false;
  clearSegments();  // any earlier cut no longer matches the payload
  mPayload.insert(mPayload.end(), segment->mPayload.begin(), segment->mPayload.end());
  mLast = segment->mLast;
  return true;
}
