#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

using cBytes = std::vector<uint8_t>;

// The benchmark's messages and what each side must see of them. Message k of a run has a
// payload made from k alone (random bytes, or text with "AT-AB", flags and escapes), so the far
// end checks every byte without keeping a copy of what was sent.
struct cPerfTraffic {
  static cBytes payload(long k, size_t size, bool text);
  // Serialised segments of at most maxBytes bytes each.
  static std::vector<cBytes> segments(long k, size_t size, bool text, int maxBytes);
  // The segments of at most segSize bytes, framed and back to back.
  static cBytes framed(long k, size_t size, bool text, int segSize);
};

// Checks what arrives at the far end against the expected units of message 0, 1, 2, ...:
// unit by unit (decoded frames, datagrams of ferryd) or as one byte stream (socat, which keeps
// no boundaries). Calls done(k) when message k has arrived whole.
class cPerfExpect {
 public:
  using cUnitsOf = std::function<std::vector<cBytes>(long k)>;
  cPerfExpect(cUnitsOf unitsOf, std::function<void(long)> done);

  bool feedUnit(const uint8_t* data, size_t len);   // false: the unit is not the expected one
  bool feedBytes(const uint8_t* data, size_t len);  // false: a byte differs
  long next() const { return mK; }

 private:
  void load();
  void advance();

  cUnitsOf mUnitsOf;
  std::function<void(long)> mDone;
  long mK;
  std::vector<cBytes> mUnits;
  size_t mUnit;
  size_t mOffset;
};
