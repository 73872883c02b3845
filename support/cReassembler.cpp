#include "support/cReassembler.h"

#include <cstdio>

cReassembler::cReassembler(const cYlog& log, const char* direction)
    : mLog(log), mDirection(direction ? direction : ""), mPendingMsg(nullptr), mNextIndex(0) {}

cReassembler::~cReassembler() {
  delete mPendingMsg;
}

void cReassembler::dropPending(const char* why) {
  mLog.warn("From %s: partial message %d dropped after %d segments: %s", mDirection,
            mPendingMsg->getMsgId(), mNextIndex, why);
  delete mPendingMsg;
  mPendingMsg = nullptr;
  mNextIndex = 0;
}

// Only a first segment becomes a message object (kept as the partial message or passed on);
// later segments are appended straight from the unit's bytes.
YMsg* cReassembler::onUnit(const unsigned char* data, int length) {
  YMsg::cHeader h;
  if (length < 0 || length > 0xFFFF ||
      !YMsg::parseHeader(data, static_cast<unsigned short>(length), &h)) {
    mLog.warn("From %s: invalid segment of %d bytes dropped", mDirection, length);
    return nullptr;
  }
  if (h.index == 0) {
    if (mPendingMsg != nullptr) dropPending("a new message started");
    YMsg* seg = YMsg::parseMsg(data, static_cast<unsigned short>(length));
    if (h.last) return seg;
    mPendingMsg = seg;
    mNextIndex = 1;
    return nullptr;
  }

  if (mPendingMsg == nullptr) {
    mLog.warn("From %s: segment %d of message %d dropped: the start of its message was lost",
              mDirection, h.index, h.id);
  } else if (h.id != mPendingMsg->getMsgId()) {
    mLog.warn("From %s: segment %d of message %d dropped: message %d is being collected",
              mDirection, h.index, h.id, mPendingMsg->getMsgId());
  } else if (h.index != mNextIndex) {
    char why[64];
    snprintf(why, sizeof why, "segment %d arrived, segment %d was expected", h.index, mNextIndex);
    dropPending(why);
  } else if (!mPendingMsg->addSegmentUnit(data, static_cast<unsigned short>(length))) {
    dropPending("the message would exceed 65535 bytes");
  } else {
    ++mNextIndex;
    if (h.last) {
      YMsg* whole = mPendingMsg;
      mPendingMsg = nullptr;
      mNextIndex = 0;
      return whole;
    }
  }
  return nullptr;
}
