#include "support/YMsg.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr int kLastBit = 0x80;
constexpr int kIdMask = 0x7F;
// A serialised segment must fit the unsigned short size of getMsg and parseMsg.
constexpr size_t kMaxSegmentPayload = 65535 - YMsg::kHeaderSize;

void putHeader(uint8_t* out, uint8_t id, bool last, uint16_t index, size_t n) {
  out[0] = static_cast<uint8_t>(id | (last ? kLastBit : 0));
  out[1] = static_cast<uint8_t>(index & 0xFF);
  out[2] = static_cast<uint8_t>(index >> 8);
  out[3] = static_cast<uint8_t>(n & 0xFF);
  out[4] = static_cast<uint8_t>(n >> 8);
}

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

void YMsg::segmentBounds(size_t k, size_t* offset, size_t* length, bool* last) const {
  *offset = k * mChunk;
  *length = std::min(mChunk, mPayload.size() - *offset);
  *last = *offset + *length == mPayload.size();
}

YMsg* YMsg::getNextSegment() {
  if (mNextSegment >= mSegmentCount) return nullptr;
  size_t offset, n;
  bool last;
  segmentBounds(mNextSegment, &offset, &n, &last);
  if (!mCursor) mCursor.reset(new YMsg(mId, 0, false));
  mCursor->mId = mId;
  mCursor->mIndex = static_cast<uint16_t>(mNextSegment);
  mCursor->mLast = last;
  mCursor->mPayload.assign(mPayload.begin() + offset, mPayload.begin() + offset + n);
  ++mNextSegment;
  return mCursor.get();
}

bool YMsg::viewSegment(size_t k, cSegmentView* view) const {
  if (k >= mSegmentCount || view == nullptr) return false;
  size_t offset;
  bool last;
  segmentBounds(k, &offset, &view->length, &last);
  putHeader(view->header, mId, last, static_cast<uint16_t>(k), view->length);
  view->payload = view->length > 0 ? mPayload.data() + offset : nullptr;
  return true;
}

int YMsg::getMsg(void* buffer, unsigned short size) const {
  size_t n = mPayload.size();
  if (buffer == nullptr || n > kMaxSegmentPayload || size < kHeaderSize + n) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  putHeader(out, mId, mLast, mIndex, n);
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
