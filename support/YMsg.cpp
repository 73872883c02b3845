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
      mChunk(0),
      mSegmentCount(0),
      mNextSegment(0) {}

YMsg::~YMsg() = default;

bool YMsg::parseHeader(const void* data, unsigned short length, cHeader* header) {
  if (data == nullptr || length < kHeaderSize) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t n = bytes[3] | (bytes[4] << 8);
  if (length != kHeaderSize + n) return false;
  *header = {bytes[0] & kIdMask, bytes[1] | (bytes[2] << 8), (bytes[0] & kLastBit) != 0, n};
  return true;
}

YMsg* YMsg::parseMsg(const void* data, unsigned short length) {
  cHeader h;
  if (!parseHeader(data, length, &h)) return nullptr;
  const auto* bytes = static_cast<const uint8_t*>(data) + kHeaderSize;
  std::unique_ptr<YMsg> msg(new YMsg(h.id, h.index, h.last));
  msg->mPayload.assign(bytes, bytes + h.payloadLength);  // may throw bad_alloc
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
  mChunk = 0;
  mSegmentCount = 0;
  mNextSegment = 0;
}

bool YMsg::segmentMessage(int maxBytes) {
  clearSegments();
  if (maxBytes < kHeaderSize + 1) return false;
  mChunk = std::min(static_cast<size_t>(maxBytes - kHeaderSize), kMaxSegmentPayload);
  mSegmentCount = mPayload.empty() ? 1 : (mPayload.size() + mChunk - 1) / mChunk;
  return true;
}

void YMsg::resetSegment() {
  mNextSegment = 0;
}

YMsg* YMsg::getNextSegment() {
  if (mNextSegment >= mSegmentCount) return nullptr;
  size_t offset = mNextSegment * mChunk;
  size_t n = std::min(mChunk, mPayload.size() - offset);
  if (!mCursor) mCursor.reset(new YMsg(mId, 0, false));
  mCursor->mId = mId;
  mCursor->mIndex = static_cast<uint16_t>(mNextSegment);
  mCursor->mLast = offset + n == mPayload.size();
  mCursor->mPayload.assign(mPayload.begin() + offset, mPayload.begin() + offset + n);
  ++mNextSegment;
  return mCursor.get();
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

bool YMsg::append(const uint8_t* data, size_t n, bool last) {
  if (mPayload.size() + n > kMaxPayload) return false;
  clearSegments();  // any earlier cut no longer matches the payload
  mPayload.insert(mPayload.end(), data, data + n);
  mLast = last;
  return true;
}

bool YMsg::addSegment(const YMsg* segment) {
  if (segment == nullptr) return false;
  return append(segment->mPayload.data(), segment->mPayload.size(), segment->mLast);
}

bool YMsg::addSegmentUnit(const void* data, unsigned short length) {
  cHeader h;
  if (!parseHeader(data, length, &h)) return false;
  return append(static_cast<const uint8_t*>(data) + kHeaderSize, h.payloadLength, h.last);
}
