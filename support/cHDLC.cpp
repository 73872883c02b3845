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
  return kEscapeTable.v[b] != 0;
}

// One byte into the running FCS-16.
inline unsigned fcsStep(unsigned fcs, unsigned char b) {
  return (fcs >> 8) ^ kFcsTable.v[(fcs ^ b) & 0xFF];
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

cHDLC::cHDLC()
    : mState(kHunt),
      mLength(0),
      mFcs(0xFFFF),
      mBuf{},
      mDropped{},
      mCounted(-1),
      mReport(nullptr),
      mReportContext(nullptr) {}

unsigned short cHDLC::fcs16(const unsigned char* data, int length, unsigned short fcs) {
  for (int i = 0; i < length; ++i) fcs = static_cast<unsigned short>(fcsStep(fcs, data[i]));
  return fcs;
}

void cHDLC::reset() {
  mState = kHunt;
  mLength = 0;
  mFcs = 0xFFFF;
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
  // Without a branch on the data: both bytes of an escape pair are written for every byte, and
  // the second is kept only when the byte needed escaping (out has room for the worst case).
  for (const unsigned char* end = data + length; data != end; ++data) {
    unsigned char b = *data;
    fcs = fcsStep(fcs, b);
    unsigned char escaped = kEscapeTable.v[b];
    o[0] = escaped ? kEscape : b;
    o[1] = b ^ kEscapeXor;
    o += 1 + escaped;
  }
  fcs = ~fcs;
  for (unsigned char b : {static_cast<unsigned char>(fcs), static_cast<unsigned char>(fcs >> 8)}) {
    if (needsEscape(b)) *o++ = kEscape, b ^= kEscapeXor;
    *o++ = b;
  }
  *o++ = kFlag;
  return static_cast<int>(o - out);
}

void cHDLC::drop(DropReason reason, int length) {
  static const cStats::Counter kCounters[kReasons] = {cStats::kBadFcs, cStats::kOversizeFrames,
                                                      cStats::kAbortedFrames};
  mDropped[reason].fetch_add(1, std::memory_order_relaxed);
  if (mCounted >= 0) cStats::add(static_cast<cStats::Dir>(mCounted), kCounters[reason]);
  if (mReport != nullptr) mReport(mReportContext, reason, length);
  mLength = 0;
  mFcs = 0xFFFF;
}

int cHDLC::unFrameByte(unsigned char byte, unsigned char* out, int* outLength) {
  if (byte == kFlag) {
    // Every flag ends what came before it and opens the next frame.
    State was = mState;
    mState = kInFrame;
    if (was == kHunt || was == kDiscard) {
      mLength = 0;
      mFcs = 0xFFFF;
      return 0;
    }
    if (was == kEscaped) {  // abort sequence
      drop(kAborted, mLength);
      return 0;
    }
    if (mLength == 0) return 0;  // flag after flag
    if (mLength < kFcsSize || fcs16(mBuf, mLength) != kGoodResidual) {
      drop(kBadFcs, mLength);
      return 0;
    }
    int payload = mLength - kFcsSize;
    std::memcpy(out, mBuf, payload);
    *outLength = payload;
    mLength = 0;
    mFcs = 0xFFFF;
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
    drop(kOversize, mLength);
    mState = kDiscard;
    return 0;
  }
  mBuf[mLength++] = byte;
  mFcs = fcsStep(mFcs, byte);
  return 0;
}

// unFrameByte's decoding with the state in locals. Outside a frame the loop jumps to the next
// flag; inside, each byte is stored and added to the running checksum, so the closing flag
// needs no second pass over the frame.
int cHDLC::unFrame(const unsigned char* data, int length, cDeliver deliver, void* context) {
  if (data == nullptr || length <= 0) return 0;
  const unsigned char* p = data;
  const unsigned char* const end = data + length;
  State state = mState;
  int n = mLength;
  unsigned fcs = mFcs;
  int delivered = 0;
  while (p != end) {
    if (state == kInFrame) {  // the common case, plain bytes of a frame, in a tight loop
      int room = kMaxPayload + kFcsSize - n;
      while (p != end && room > 0 && *p != kFlag && *p != kEscape) {
        unsigned char b = *p++;
        mBuf[n++] = b;
        fcs = fcsStep(fcs, b);
        --room;
      }
      if (p == end) break;
    }
    unsigned char b = *p++;
    if (b == kFlag) {
      State was = state;
      state = kInFrame;
      if (was == kEscaped) {
        drop(kAborted, n);  // abort sequence
      } else if (was == kInFrame && n > 0) {
        if (n >= kFcsSize && fcs == kGoodResidual) {
          mState = state;
          mLength = 0;
          mFcs = 0xFFFF;
          deliver(context, mBuf, n - kFcsSize);
          ++delivered;
        } else {
          drop(kBadFcs, n);
        }
      }
      n = 0;
      fcs = 0xFFFF;
      continue;
    }
    if (state == kInFrame) {
      if (b == kEscape) {
        state = kEscaped;
        continue;
      }
    } else if (state == kEscaped) {
      b ^= kEscapeXor;
      state = kInFrame;
    } else {  // hunting or discarding: nothing counts until the next flag
      const void* flag = std::memchr(p, kFlag, static_cast<size_t>(end - p));
      p = flag != nullptr ? static_cast<const unsigned char*>(flag) : end;
      continue;
    }
    if (n >= kMaxPayload + kFcsSize) {
      drop(kOversize, n);
      n = 0;
      fcs = 0xFFFF;
      state = kDiscard;
      continue;
    }
    mBuf[n++] = b;
    fcs = fcsStep(fcs, b);
  }
  mState = state;
  mLength = n;
  mFcs = fcs;
  return delivered;
}
