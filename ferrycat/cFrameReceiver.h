#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "support/YMsg.h"
#include "support/cHDLC.h"
#include "support/cReassembler.h"
#include "support/cYlog.h"

// The daemon's serial byte stream back into messages, by the daemon's own unframing (cHDLC, every
// FCS checked) and reassembly (cReassembler). Drops are counted by reason in cStats under the
// direction given (none with -1) and warned about through the log given. One thread at a time.
class cFrameReceiver {
 public:
  // A message put back together; it is valid during the call only.
  using cSink = std::function<void(const YMsg& msg)>;
  // Every good frame's length (the serialised segment it carries), before it is reassembled.
  using cUnitObserver = std::function<void(int length)>;

  cFrameReceiver(const cYlog& log, const char* direction, int countedDir = -1);
  void setSink(cSink sink) { mSink = std::move(sink); }
  void setUnitObserver(cUnitObserver observer) { mObserver = std::move(observer); }

  void feed(const uint8_t* data, size_t length);
  // Forgets a partly received frame (a line that went away).
  void reset() { mHDLC.reset(); }
  unsigned droppedFrames() const { return mHDLC.droppedFrames(); }

 private:
  static void onFrame(void* self, const unsigned char* payload, int length);

  cHDLC mHDLC;
  std::unique_ptr<cReassembler> mReassembler;
  cSink mSink;
  cUnitObserver mObserver;
};
