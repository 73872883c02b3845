#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "libferry/ferry.h"
#include "support/cLogLimit.h"
#include "support/cStats.h"
#include "support/cYlog.h"

// The daemon's serial byte stream back into messages through libferry's public codec (the
// daemon's own unframing, every FCS checked, and reassembly). Drops are counted by reason in
// cStats under the direction given (none with -1) and warned about through the log given (at
// most kWarningsPerMinute a minute). One thread at a time.
class cFrameReceiver {
 public:
  // A message put back together: its id and bytes, valid during the call only.
  using cSink = std::function<void(int id, const uint8_t* data, size_t length)>;
  // Every valid segment's serialised length, before it is reassembled.
  using cUnitObserver = std::function<void(int length)>;

  static constexpr int kWarningsPerMinute = 10;

  cFrameReceiver(const cYlog& log, const char* direction, int countedDir = -1);
  ~cFrameReceiver();
  cFrameReceiver(const cFrameReceiver&) = delete;
  cFrameReceiver& operator=(const cFrameReceiver&) = delete;

  void setSink(cSink sink) { mSink = std::move(sink); }
  void setUnitObserver(cUnitObserver observer);

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
