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

// 1 for the bytes sent escaped.
struct EscapeTable {
  std::array<unsigned char, 256> v{};
  constexpr EscapeTable() {
    v[kFlag] = 1;
    v[kEscape] = 1;
    v['A'] = 1;
  }
};
constexpr EscapeTable kEscapeTable;

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

cHDLC::cHDLC() : mState(kHunt), mLength(0), mBuf{}, mDropped(0) {}

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

int cHDLC::frame(const unsigned char* data, int length, unsigned char* out) {
  if (length < 0 || data == nullptr) length = 0;
  unsigned char* o = out;
  *o++ = kFlag;
  unsigned fcs = 0xFFFF;
  for (const unsigned char* end = data + length; data != end; ++data) {
    unsigned char b = *data;
    fcs = (fcs >> 8) ^ kFcsTable.v[(fcs ^ b) & 0xFF];
    if (kEscapeTable.v[b]) {
      o[0] = kEscape;
      o[1] = b ^ kEscapeXor;
      o += 2;
    } else {
      *o++ = b;
    }
  }
  fcs = ~fcs;
  for (unsigned char b : {static_cast<unsigned char>(fcs), static_cast<unsigned char>(fcs >> 8)}) {
    if (kEscapeTable.v[b]) *o++ = kEscape, b ^= kEscapeXor;
    *o++ = b;
  }
  *o++ = kFlag;
  return static_cast<int>(o - out);
}

void cHDLC::drop() {
  mDropped.fetch_add(1, std::memory_order_relaxed);
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
      drop();
      return 0;
    }
    if (mLength == 0) return 0;  // flag after flag
    if (mLength < kFcsSize || fcs16(mBuf, mLength) != kGoodResidual) {
      drop();
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
    drop();
    mState = kDiscard;
    return 0;
  }
  mBuf[mLength++] = byte;
  return 0;
}
