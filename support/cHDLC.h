#pragma once

#include <atomic>

#include "support/cStats.h"

// Async HDLC-like framing (RFC 1662): 0x7E, escaped(payload, FCS-16 low byte first), 0x7E.
// 0x7E, 0x7D and 0x41 ('A') are escaped as 0x7D, byte ^ 0x20, so the text "AT-AB" never occurs
// inside a framed stream. Encoding keeps no state: frameData may run on one thread while another
// decodes.
class cHDLC {
 public:
  static constexpr int kMaxPayload = 1024;
  static constexpr unsigned short kGoodResidual = 0xF0B8;

  cHDLC();

  // Forgets a partly decoded frame.
  void reset();
  // Frames length bytes into out, which must hold 2 + 2 * (length + 2) bytes. The reference:
  // checksum first, then escaping, a byte at a time.
  void frameData(const unsigned char* data, int length, unsigned char* out, int* outLength) const;
  // The same bytes as frameData in one pass (checksum and escaping together); returns the framed
  // length. out must hold maxFramed(length) bytes.
  static int frame(const unsigned char* data, int length, unsigned char* out);
  static constexpr int maxFramed(int length) { return 2 + 2 * (length + 2); }
  // Feeds one received byte; returns 1 when it completes a good frame, whose payload (at most
  // kMaxPayload bytes) is then in out and its length in *outLength. Bad frames (wrong FCS, too
  // long, aborted) are dropped and counted by reason.
  int unFrameByte(unsigned char byte, unsigned char* out, int* outLength);

  // Feeds a whole read: the same decoding as unFrameByte on every byte in order, in one loop with
  // the checksum kept up as bytes arrive. Each good frame is handed to deliver(context, payload,
  // length) as its closing flag is reached; the payload lies in the decoder's own buffer and is
  // valid during the call only. Returns the number of frames delivered.
  using cDeliver = void (*)(void* context, const unsigned char* payload, int length);
  int unFrame(const unsigned char* data, int length, cDeliver deliver, void* context);

  enum DropReason { kBadFcs, kOversize, kAborted, kReasons };
  unsigned dropped(DropReason reason) const {
    return mDropped[reason].load(std::memory_order_relaxed);
  }
  unsigned droppedFrames() const {
    return dropped(kBadFcs) + dropped(kOversize) + dropped(kAborted);
  }
  // Also counts this decoder's drops in cStats under dir.
  void countDropsIn(cStats::Dir dir) { mCounted = dir; }
  // Also reports every drop, as it happens, to report(context, reason, bytes collected).
  using cDropReport = void (*)(void* context, DropReason reason, int length);
  void reportDropsTo(cDropReport report, void* context) {
    mReport = report;
    mReportContext = context;
  }

  static unsigned short fcs16(const unsigned char* data, int length, unsigned short fcs = 0xFFFF);

 private:
  enum State { kHunt, kInFrame, kEscaped, kDiscard };
  void drop(DropReason reason, int length);

  State mState;
  int mLength;
  unsigned mFcs;                        // FCS-16 of mBuf[0 .. mLength), kept up by both decoders
  unsigned char mBuf[kMaxPayload + 2];  // payload and FCS
  std::atomic<unsigned> mDropped[kReasons];
  int mCounted;  // a cStats::Dir, or -1
  cDropReport mReport;
  void* mReportContext;
};
