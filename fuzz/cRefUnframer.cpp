#include "fuzz/cRefUnframer.h"

namespace {

constexpr unsigned char kFlag = 0x7E;
constexpr unsigned char kEscape = 0x7D;
constexpr unsigned short kGoodResidual = 0xF0B8;
constexpr size_t kFcsSize = 2;

}  // namespace

unsigned short cRefUnframer::crc(const unsigned char* data, size_t length, unsigned short crc) {
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return crc;
}

void cRefUnframer::reset() {
  mInFrame = mEscaped = mDiscard = false;
  mBuf.clear();
}

// A flag always opens the next frame; what it closes is delivered only when whole and good.
bool cRefUnframer::closeFrame(std::vector<unsigned char>& payload) {
  bool wasOpen = mInFrame && !mDiscard;
  bool aborted = mEscaped;
  mInFrame = true;
  mEscaped = mDiscard = false;
  std::vector<unsigned char> content;
  content.swap(mBuf);
  if (!wasOpen) return false;
  if (aborted) {
    ++mDropped[kAborted];
    return false;
  }
  if (content.empty()) return false;
  if (content.size() < kFcsSize || crc(content.data(), content.size()) != kGoodResidual) {
    ++mDropped[kBadFcs];
    return false;
  }
  payload.assign(content.begin(), content.end() - kFcsSize);
  return true;
}

bool cRefUnframer::feed(unsigned char byte, std::vector<unsigned char>& payload) {
  if (byte == kFlag) return closeFrame(payload);
  if (!mInFrame || mDiscard) return false;
  if (mEscaped) {
    byte ^= 0x20;
    mEscaped = false;
  } else if (byte == kEscape) {
    mEscaped = true;
    return false;
  }
  if (mBuf.size() == kMaxPayload + kFcsSize) {
    ++mDropped[kOversize];
    mBuf.clear();
    mDiscard = true;
    return false;
  }
  mBuf.push_back(byte);
  return false;
}
