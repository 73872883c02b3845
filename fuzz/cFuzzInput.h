#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Reads a fuzz input from the front, field by field; past its end every number reads 0 and
// every byte string is empty. Front-to-back fields keep the seed files easy to write by hand
// (scripts/fuzz-seeds.py).
class cFuzzInput {
 public:
  cFuzzInput(const uint8_t* data, size_t size) : mData(data), mSize(size), mPos(0) {}

  bool empty() const { return mPos >= mSize; }
  size_t remaining() const { return mSize - mPos; }
  uint8_t u8() { return empty() ? 0 : mData[mPos++]; }
  uint16_t u16() {
    uint16_t low = u8();
    return static_cast<uint16_t>(low | u8() << 8);
  }
  // A number from lo to hi.
  size_t range(size_t lo, size_t hi) { return lo + (hi > lo ? u16() % (hi - lo + 1) : 0); }
  // Up to n bytes (fewer at the end of the input).
  std::vector<unsigned char> bytes(size_t n) {
    if (n > remaining()) n = remaining();
    std::vector<unsigned char> out(mData + mPos, mData + mPos + n);
    mPos += n;
    return out;
  }

 private:
  const uint8_t* mData;
  size_t mSize;
  size_t mPos;
};
