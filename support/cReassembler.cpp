#include "support/cReassembler.h"

#include <cstdio>

cReassembler::cReassembler(const cYlog& log, const char* direction)
    : mLog(log),
      mDirection(direction ? direction : ""),
      mPendingMsg(nullptr),
      mNextIndex(0),
      mLimit(60, kWarningsPerMinute) {}

cReassembler::~cReassembler() {
  delete mPendingMsg;
}

void cReassembler::report(const char* what) {
  if (mLimit.pass()) mLog.warn("From %s: %s%s", mDirection, what, mLimit.held().c_str());
}

void cReassembler::dropPending(const char* why) {
  char what[160];
  snprintf(what, sizeof what, "partial message %d dropped after %d segments: %s",
           mPendingMsg->getMsgId(), mNextIndex, why);
  report(what);
  delete mPendingMsg;
  mPendingMsg = nullptr;
  mNextIndex = 0;
}

YMsg* cReassembler::onUnit(const unsigned char* data, int length) {
  YMsg* seg = nullptr;
  if (length >= 0 && length <= 0xFFFF)
    seg = YMsg::parseMsg(data, static_cast<unsigned short>(length));
  if (seg == nullptr) {
    char what[64];
    snprintf(what, sizeof what, "invalid segment of %d bytes dropped", length);
    report(what);
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
    char what[96];
    snprintf(what, sizeof what,
             "segment %d of message %d dropped: the start of its message was lost", index, id);
    report(what);
  } else if (id != mPendingMsg->getMsgId()) {
    char what[96];
    snprintf(what, sizeof what, "segment %d of message %d dropped: message %d is being collected",
             index, id, mPendingMsg->getMsgId());
    report(what);
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
