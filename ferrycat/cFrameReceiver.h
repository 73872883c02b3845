#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "libferry/ferry.h"
#include "support/cLogLimit.h"
#include "support/cStats.h"
#include "support/cYlog.h"

// What the daemon sends back into messages through libferry's public codec: its serial byte
// stream (the daemon's own unframing, every FCS checked, and reassembly) or its datagrams (one
// segment each, reassembled). Drops are counted by reason in cStats under the direction given
// (none with -1) and warned about through the log given (at most kWarningsPerMinute a minute).
// One thread at a time.
class cFrameReceiver {
 public:
  // A message put back together: its id and bytes, valid during the call only.
  using cSink = std::function<void(int id, const uint8_t* data, size_t length)>;
  // Every valid segment's serialised length, before it is reassembled.
  using cUnitObserver = std::function<void(int length)>;

  static constexpr int kWarningsPerMinute = 10;

  // kind: FERRY_KIND_SERIAL or FERRY_KIND_DATAGRAM.
  cFrameReceiver(const cYlog& log, const char* direction, int countedDir = -1,
                 int kind = FERRY_KIND_SERIAL);
  ~cFrameReceiver();
  cFrameReceiver(const cFrameReceiver&) = delete;
  cFrameReceiver& operator=(const cFrameReceiver&) = delete;

  void setSink(cSink sink) { mSink = std::move(sink); }
  void setUnitObserver(cUnitObserver observer);

  // Serial kind: any piece of the stream. Datagram kind: exactly one datagram (an empty one is a
  // unit too, dropped as invalid).
  void feed(const uint8_t* data, size_t length);
  // Forgets a partly received frame and message (a line that went away).
  void reset() { ferry_codec_reset_input(mCodec); }
  // Frames that failed to decode (bad FCS, too long, aborted).
  unsigned droppedFrames() const;

 private:
  void onEvent(const ferry_event& e);

  const cYlog& mLog;
  const char* mDirection;
  int mCounted;  // a cStats::Dir, or -1
  ferry_codec* mCodec;
  cLogLimit mLimit;
  cSink mSink;
  cUnitObserver mObserver;
};
