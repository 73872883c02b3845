#pragma once

#include <cstddef>
#include <vector>

// A plain model of the serial-line unframer, written from the wire format (flags, escapes,
// CRC-16/X-25, 1024-byte limit, aborts) with a bit-by-bit CRC, against which the real decoder is
// compared byte by byte.
class cRefUnframer {
 public:
  static constexpr size_t kMaxPayload = 1024;

  // Feeds one byte; true when it completes a good frame, whose payload is then in payload.
  bool feed(unsigned char byte, std::vector<unsigned char>& payload);
  void reset();
  // Dropped frames by reason: bad FCS (or shorter than one), longer than 1024 bytes, aborted.
  enum Reason { kBadFcs, kOversize, kAborted, kReasons };
  unsigned dropped(Reason reason) const { return mDropped[reason]; }

  // CRC-16/X-25 without the final complement, one bit at a time.
  static unsigned short crc(const unsigned char* data, size_t length, unsigned short crc = 0xFFFF);

 private:
  bool closeFrame(std::vector<unsigned char>& payload);

  bool mInFrame = false;
  bool mEscaped = false;
  bool mDiscard = false;
  std::vector<unsigned char> mBuf;
  unsigned mDropped[kReasons] = {};
};
