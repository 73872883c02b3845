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

YMsg* cReassembler::onUnit(const unsigned char* data, int length) {
  YMsg* seg = nullptr;
  if (length >= 0 && length <= 0xFFFF)
    seg = YMsg::parseMsg(data, static_cast<unsigned short>(length));
  if (seg == nullptr) {
    mLog.warn("From %s: invalid segment of %d bytes dropped", mDirection, length);
    return nullptr;
  }
  int id = seg->getMsgId();
  int index = seg->getSegIndex();

  if (index == 0) {
    if (mPendingMsg != nullptr) dropPending("a new message started");
    if (seg->isLastSegment()) return seg;
    mPendingMsg = seg;
    mNextIndex = 1;
    return nullptr;
  }

  if (mPendingMsg == nullptr) {
    mLog.warn("From %s: segment %d of message %d dropped: the start of its message was lost",
              mDirection, index, id);
  } else if (id != mPendingMsg->getMsgId()) {
    mLog.warn("From %s: segment %d of message %d dropped: message %d is being collected",
              mDirection, index, id, mPendingMsg->getMsgId());
  } else if (index != mNextIndex) {
    char why[64];
    snprintf(why, sizeof why, "segment %d arrived, segment %d was expected", index, mNextIndex);
    dropPending(why);
  } else if (!mPendingMsg->addSegment(seg)) {
    dropPending("the message would exceed 65535 bytes");
  } else {
    ++mNextIndex;
    if (seg->isLastSegment()) {
      YMsg* whole = mPendingMsg;
      mPendingMsg = nullptr;
      mNextIndex = 0;
      delete seg;
      return whole;
    }
  }
  delete seg;
  return nullptr;
}
