#include "support/cReassembler.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>

cReassembler::cReassembler(const cLogSink& log, const char* direction)
    : mLog(log),
      mDirection(direction ? direction : ""),
      mCounted(-1),
      mPendingMsg(nullptr),
      mNextIndex(0),
      mLimit(60, kWarningsPerMinute),
      mReport(nullptr),
      mReportContext(nullptr) {}

cReassembler::cReassembler(const cLogSink& log, const char* direction, cStats::Dir counted)
    : cReassembler(log, direction) {
  mCounted = counted;
}

cReassembler::~cReassembler() {
  delete mPendingMsg;
}

void cReassembler::reset() {
  delete mPendingMsg;
  mPendingMsg = nullptr;
  mNextIndex = 0;
}

void cReassembler::count(cStats::Counter counter, int id, int length) const {
  if (mCounted >= 0) cStats::add(static_cast<cStats::Dir>(mCounted), counter);
  if (mReport != nullptr) mReport(mReportContext, counter, id, length);
}

// Lines are formatted on the stack: a warning never needs memory.
void cReassembler::warn(const char* fmt, ...) const {
  char line[256];
  va_list args;
  va_start(args, fmt);
  vsnprintf(line, sizeof line, fmt, args);
  va_end(args);
  mLog.warnLine(line);
}

void cReassembler::dropPending(const char* why) {
  if (mLimit.pass())
    warn("From %s: partial message %d dropped after %d segments: %s%s", mDirection,
         mPendingMsg->getMsgId(), mNextIndex, why, mLimit.held());
  delete mPendingMsg;
  mPendingMsg = nullptr;
  mNextIndex = 0;
}

void cReassembler::dropInvalid(int length, const char* why) {
  count(cStats::kInvalidUnits, -1, length);
  if (mLimit.pass())
    warn("From %s: invalid segment of %d bytes dropped%s%s", mDirection, length, why,
         mLimit.held());
}

// Running out of memory drops the unit (and a partial message it was being added to); the
// reassembler stays usable.
YMsg* cReassembler::onUnit(const unsigned char* data, int length) {
  YMsg::cHeader h{-1, 0, false, 0};  // id -1 until the header is read
  try {
    if (length < 0 || length > 0xFFFF ||
        !YMsg::parseHeader(data, static_cast<unsigned short>(length), &h)) {
      dropInvalid(length, "");
      return nullptr;
    }
    return take(h, data, static_cast<unsigned short>(length));
  } catch (const std::bad_alloc&) {
    count(cStats::kOutOfMemory, h.id, length);
    delete mPendingMsg;
    mPendingMsg = nullptr;
    mNextIndex = 0;
    char line[128];
    snprintf(line, sizeof line, "From %s: out of memory, unit of %d bytes dropped", mDirection,
             length);
    mLog.errorLine(line);
    return nullptr;
  }
}

// Only a first segment becomes a message object (kept as the partial message or passed on);
// later segments are appended straight from the unit's bytes.
YMsg* cReassembler::take(const YMsg::cHeader& h, const unsigned char* data, unsigned short length) {
  if (h.index == 0) {
    if (mPendingMsg != nullptr) {
      count(cStats::kStalePartials, mPendingMsg->getMsgId(),
            static_cast<int>(mPendingMsg->payload().size()));
      dropPending("a new message started");
    }
    YMsg* seg = YMsg::parseMsg(data, length);
    if (h.last) return seg;
    mPendingMsg = seg;
    mNextIndex = 1;
    return nullptr;
  }

  if (mPendingMsg == nullptr) {
    count(cStats::kLostStarts, h.id, length);
    if (mLimit.pass())
      warn("From %s: segment %d of message %d dropped: the start of its message was lost%s",
           mDirection, h.index, h.id, mLimit.held());
  } else if (h.id != mPendingMsg->getMsgId()) {
    count(cStats::kLostStarts, h.id, length);
    if (mLimit.pass())
      warn("From %s: segment %d of message %d dropped: message %d is being collected%s", mDirection,
           h.index, h.id, mPendingMsg->getMsgId(), mLimit.held());
  } else if (h.index != mNextIndex) {
    count(cStats::kOutOfOrder, h.id, length);
    char why[64];
    snprintf(why, sizeof why, "segment %d arrived, segment %d was expected", h.index, mNextIndex);
    dropPending(why);
  } else if (!mPendingMsg->addSegmentUnit(data, length)) {
    count(cStats::kOversize, h.id, length);
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
