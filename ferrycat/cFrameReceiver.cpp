#include "ferrycat/cFrameReceiver.h"

#include <errno.h>

#include <new>
#include <stdexcept>

namespace {

// clang-format off
const cStats::Counter kCounters[] = {
  cStats::kCounters,  // no reason 0
  cStats::kInvalidUnits, cStats::kStalePartials, cStats::kLostStarts, cStats::kOutOfOrder,
  cStats::kOversize, cStats::kBadFcs, cStats::kOversizeFrames, cStats::kAbortedFrames,
  cStats::kOutOfMemory,
};
// clang-format on
constexpr int kReasons = sizeof kCounters / sizeof kCounters[0];

}  // namespace

cFrameReceiver::cFrameReceiver(const cYlog& log, const char* direction, int countedDir, int kind)
    : mLog(log),
      mDirection(direction != nullptr ? direction : ""),
      mCounted(countedDir),
      mCodec(nullptr),
      mLimit(60, kWarningsPerMinute) {
  // A codec of either kind with its default size is refused only for lack of memory (or a
  // kind the caller made up).
  int rc = ferry_codec_new(kind, 0, &mCodec);
  if (rc == -EINVAL) throw std::invalid_argument("cFrameReceiver: unknown kind");
  if (rc < 0) throw std::bad_alloc();
}

cFrameReceiver::~cFrameReceiver() {
  ferry_codec_free(mCodec);
}

void cFrameReceiver::setUnitObserver(cUnitObserver observer) {
  mObserver = std::move(observer);
  ferry_codec_set_option(mCodec, FERRY_OPTION_SEGMENT_EVENTS, mObserver ? 1 : 0);
}

// A datagram is taken whole by one feed, an empty one included; the stream may take several.
void cFrameReceiver::feed(const uint8_t* data, size_t length) {
  size_t at = 0;
  do {
    size_t used = 0;
    if (ferry_codec_feed(mCodec, data + at, length - at, &used) < 0) break;
    at += used;
    ferry_event e;
    while (ferry_codec_next(mCodec, &e, sizeof e) == 1) onEvent(e);
  } while (at < length);
}

void cFrameReceiver::onEvent(const ferry_event& e) {
  if (e.type == FERRY_EVENT_MESSAGE) {
    if (mSink) mSink(e.id, e.data, e.length);
    return;
  }
  if (e.type == FERRY_EVENT_SEGMENT) {
    if (mObserver) mObserver(static_cast<int>(e.length));
    return;
  }
  if (e.reason <= 0 || e.reason >= kReasons) return;
  if (mCounted >= 0) cStats::add(static_cast<cStats::Dir>(mCounted), kCounters[e.reason]);
  if (!mLimit.pass()) return;
  // A stale drop is a partial message (its payload so far), not a unit.
  if (e.reason == FERRY_DROP_STALE)
    mLog.warn("From %s: partial message %d of %zu bytes dropped, a new one started (stale)%s",
              mDirection, e.id, e.length, mLimit.held());
  else
    mLog.warn("From %s: %zu bytes dropped (%s)%s", mDirection, e.length, ferry_drop_name(e.reason),
              mLimit.held());
}

unsigned cFrameReceiver::droppedFrames() const {
  ferry_counters k;
  ferry_codec_counters(mCodec, &k, sizeof k);
  return static_cast<unsigned>(k.dropped[FERRY_DROP_BAD_FCS] +
                               k.dropped[FERRY_DROP_OVERSIZE_FRAME] +
                               k.dropped[FERRY_DROP_ABORTED_FRAME]);
}
