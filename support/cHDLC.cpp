#include "support/cHDLC.h"

#include <array>
#include <cstring>

namespace {

constexpr unsigned char kFlag = 0x7E;
constexpr unsigned char kEscape = 0x7D;
constexpr unsigned char kEscapeXor = 0x20;
constexpr int kFcsSize = 2;

// FCS-16 lookup table for the reflected polynomial 0x8408.
struct FcsTable {
  std::array<unsigned short, 256> v{};
  constexpr FcsTable() {
    for (unsigned i = 0; i < 256; ++i) {
      unsigned c = i;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0x8408 : c >> 1;
      v[i] = static_cast<unsigned short>(c);
    }
  }
};
constexpr FcsTable kFcsTable;

bool needsEscape(unsigned char b) {
  return b == kFlag || b == kEscape || b == 'A';
}

void putEscaped(unsigned char b, unsigned char* out, int& n) {
  if (needsEscape(b)) {
    out[n++] = kEscape;
    out[n++] = b ^ kEscapeXor;
  } else {
    out[n++] = b;
  }
}

}  // namespace

cHDLC::cHDLC() : mState(kHunt), mLength(0), mBuf{}, mDropped{}, mCounted(-1) {}

unsigned short cHDLC::fcs16(const unsigned char* data, int length, unsigned short fcs) {
  for (int i = 0; i < length; ++i) fcs = (fcs >> 8) ^ kFcsTable.v[(fcs ^ data[i]) & 0xFF];
  return fcs;
}

void cHDLC::reset() {
  mState = kHunt;
  mLength = 0;
}

void cHDLC::frameData(const unsigned char* data, int length, unsigned char* out,
                      int* outLength) const {
  if (length < 0 || data == nullptr) length = 0;
  int n = 0;
  out[n++] = kFlag;
  for (int i = 0; i < length; ++i) putEscaped(data[i], out, n);
  unsigned short fcs = static_cast<unsigned short>(~fcs16(data, length));
  putEscaped(static_cast<unsigned char>(fcs & 0xFF), out, n);
  putEscaped(static_cast<unsigned char>(fcs >> 8), out, n);
  out[n++] = kFlag;
  *outLength = n;
}

void cHDLC::drop(DropReason reason) {
  static const cStats::Counter kCounters[kReasons] = {cStats::kBadFcs, cStats::kOversizeFrames,
                                                      cStats::kAbortedFrames};
  mDropped[reason].fetch_add(1, std::memory_order_relaxed);
  if (mCounted >= 0) cStats::add(static_cast<cStats::Dir>(mCounted), kCounters[reason]);
  mLength = 0;
}

int cHDLC::unFrameByte(unsigned char byte, unsigned char* out, int* outLength) {
  if (byte == kFlag) {
    // Every flag ends what came before it and opens the next frame.
    State was = mState;
    mState = kInFrame;
    if (was == kHunt || was == kDiscard) {
      mLength = 0;
      return 0;
    }
    if (was == kEscaped) {  // abort sequence
      drop(kAborted);
      return 0;
    }
    if (mLength == 0) return 0;  // flag after flag
    if (mLength < kFcsSize || fcs16(mBuf, mLength) != kGoodResidual) {
      drop(kBadFcs);
      return 0;
    }
    int payload = mLength - kFcsSize;
    std::memcpy(out, mBuf, payload);
    *outLength = payload;
    mLength = 0;
    return 1;
  }
  switch (mState) {
    case kHunt:
    case kDiscard:
      return 0;
    case kEscaped:
      byte ^= kEscapeXor;
      mState = kInFrame;
      break;
    case kInFrame:
      if (byte == kEscape) {
        mState = kEscaped;
        return 0;
      }
      break;
  }
  if (mLength >= kMaxPayload + kFcsSize) {
    drop(kOversize);
    mState = kDiscard;
    return 0;
  }
  mBuf[mLength++] = byte;
  return 0;
}
