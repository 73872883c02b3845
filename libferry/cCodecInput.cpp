// The receiving half of cCodec: bytes or datagrams in, messages and drops out.
#include <errno.h>

#include <climits>
#include <cstring>

#include "libferry/cCodec.h"

namespace {

constexpr unsigned char kFlag = 0x7E;

// clang-format off
struct cReassemblyDrop {
  cStats::Counter counter;
  int reason;
};
const cReassemblyDrop kReassemblyDrops[] = {
  {cStats::kInvalidUnits,  FERRY_DROP_INVALID},
  {cStats::kStalePartials, FERRY_DROP_STALE},
  {cStats::kLostStarts,    FERRY_DROP_LOST_START},
  {cStats::kOutOfOrder,    FERRY_DROP_OUT_OF_ORDER},
  {cStats::kOversize,      FERRY_DROP_OVERSIZE},
  {cStats::kOutOfMemory,   FERRY_DROP_OUT_OF_MEMORY},
};
const int kFrameDrops[cHDLC::kReasons] = {
  FERRY_DROP_BAD_FCS, FERRY_DROP_OVERSIZE_FRAME, FERRY_DROP_ABORTED_FRAME,
};
// clang-format on

const uint8_t kNoBytes[1] = {0};

}  // namespace

void cCodec::onDrop(int reason, int id, int length) {
  ++mCounters.dropped[reason];
  if (mEventCount == kMaxEvents) return;  // cannot happen: see kMaxEvents
  cEvent& e = mEvents[mEventCount++];
  e.type = FERRY_EVENT_DROP;
  e.id = id;
  e.reason = reason;
  e.length = static_cast<size_t>(length < 0 ? 0 : length);
  e.msg.reset();
}

void cCodec::onFrameDrop(void* self, cHDLC::DropReason reason, int length) {
  static_cast<cCodec*>(self)->onDrop(kFrameDrops[reason], -1, length);
}

void cCodec::onReassemblyDrop(void* self, cStats::Counter counter, int id, int length) {
  auto* codec = static_cast<cCodec*>(self);
  for (const cReassemblyDrop& d : kReassemblyDrops) {
    if (d.counter == counter) codec->onDrop(d.reason, id, length);
  }
}

void cCodec::onUnit(const unsigned char* unit, int length) {
  YMsg::cHeader h;
  if (mReportSegments && mEventCount < kMaxEvents && length >= 0 && length <= 0xFFFF &&
      YMsg::parseHeader(unit, static_cast<unsigned short>(length), &h)) {
    cEvent& e = mEvents[mEventCount++];
    e.type = FERRY_EVENT_SEGMENT;
    e.id = h.id;
    e.reason = 0;
    e.length = static_cast<size_t>(length);
    e.msg.reset();
  }
  std::unique_ptr<YMsg> msg(mReassembler.onUnit(unit, length));
  if (!msg) return;
  ++mCounters.messages;
  mCounters.bytes += msg->payload().size();
  if (mEventCount == kMaxEvents) return;
  cEvent& e = mEvents[mEventCount++];
  e.type = FERRY_EVENT_MESSAGE;
  e.id = msg->getMsgId();
  e.reason = 0;
  e.length = msg->payload().size();
  e.msg = std::move(msg);
}

void cCodec::onFrame(void* self, const unsigned char* payload, int length) {
  static_cast<cCodec*>(self)->onUnit(payload, length);
}

// The serial stream is handed to the unframer up to and including each flag: only a flag
// completes or drops a frame (an oversize drop comes before its flag), so stopping after the
// first piece with an event keeps the events of one frame together and the rest unread.
int cCodec::feed(const uint8_t* data, size_t length, size_t* consumed) {
  *consumed = 0;
  if (mEventNext < mEventCount)
    return fail(-EAGAIN, "%d events not yet taken: take them before feeding more",
                mEventCount - mEventNext);
  mEventCount = mEventNext = 0;
  mDelivered.reset();
  if (mKind == FERRY_KIND_DATAGRAM) {
    if (length > INT_MAX) length = INT_MAX;  // still an invalid segment, as any unit > 65535
    onUnit(data, static_cast<int>(length));
    *consumed = length;
    return 0;
  }
  size_t pos = 0;
  while (pos < length && mEventCount == 0) {
    const void* flag = std::memchr(data + pos, kFlag, length - pos);
    size_t end = flag != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(flag) - data) + 1
                                 : length;
    if (end - pos > INT_MAX) end = pos + INT_MAX;
    mHDLC.unFrame(data + pos, static_cast<int>(end - pos), &cCodec::onFrame, this);
    pos = end;
  }
  *consumed = pos;
  return 0;
}

void cCodec::fill(const cEvent& e, const uint8_t* data, ferry_event* out) {
  out->type = e.type;
  out->id = e.id;
  out->reason = e.reason;
  out->data = e.type == FERRY_EVENT_MESSAGE ? (e.length > 0 ? data : kNoBytes) : nullptr;
  out->length = e.length;
}

int cCodec::next(ferry_event* event) {
  mDelivered.reset();
  if (mEventNext == mEventCount) return 0;
  cEvent& e = mEvents[mEventNext++];
  mDelivered = std::move(e.msg);
  fill(e, mDelivered ? mDelivered->payload().data() : nullptr, event);
  return 1;
}

bool cCodec::takeEvents(cSink* sink) {
  for (; mEventNext < mEventCount; ++mEventNext) {
    if (sink->count == sink->maxEvents) return false;
    cEvent& e = mEvents[mEventNext];
    uint8_t* at = sink->out + sink->used;
    if (e.type == FERRY_EVENT_MESSAGE) {
      if (e.length > sink->capacity - sink->used) return false;
      if (e.length > 0) std::memcpy(at, e.msg->payload().data(), e.length);
      sink->used += e.length;
    }
    ferry_event full;
    fill(e, at, &full);
    std::memcpy(sink->events + sink->count * sink->eventSize, &full,
                sink->eventSize < sizeof full ? sink->eventSize : sizeof full);
    e.msg.reset();
    ++sink->count;
  }
  return true;
}

int cCodec::decode(const uint8_t* data, size_t length, size_t* consumed, uint8_t* out,
                   size_t capacity, uint8_t* events, size_t maxEvents, size_t eventSize) {
  *consumed = 0;
  mDelivered.reset();
  cSink sink{out, capacity, 0, events, maxEvents, eventSize, 0};
  // A datagram is fed once, even an empty one; NULL data only drains pending events.
  bool datagramLeft = mKind == FERRY_KIND_DATAGRAM && data != nullptr;
  while (takeEvents(&sink) && sink.count < maxEvents && (*consumed < length || datagramLeft)) {
    size_t n;
    feed(data + *consumed, length - *consumed, &n);
    *consumed += n;
    datagramLeft = false;
    if (mEventNext == mEventCount) break;  // all fed, nothing came of it
  }
  return static_cast<int>(sink.count);
}

int cCodec::decodeDatagrams(const uint8_t* data, const size_t* lengths, size_t count, size_t* taken,
                            uint8_t* out, size_t capacity, uint8_t* events, size_t maxEvents,
                            size_t eventSize) {
  *taken = 0;
  if (mKind != FERRY_KIND_DATAGRAM)
    return fail(-EINVAL, "several datagrams a call: a datagram kind codec only");
  mDelivered.reset();
  cSink sink{out, capacity, 0, events, maxEvents, eventSize, 0};
  size_t at = 0;
  while (takeEvents(&sink) && sink.count < maxEvents && *taken < count) {
    size_t n;
    feed(data + at, lengths[*taken], &n);  // no event pending: cannot refuse
    at += lengths[(*taken)++];
  }
  return static_cast<int>(sink.count);
}

void cCodec::resetInput() {
  mHDLC.reset();
  mReassembler.reset();
  for (cEvent& e : mEvents) e.msg.reset();
  mEventCount = mEventNext = 0;
  mDelivered.reset();
}
