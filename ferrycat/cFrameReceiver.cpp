#include "ferrycat/cFrameReceiver.h"

cFrameReceiver::cFrameReceiver(const cYlog& log, const char* direction, int countedDir) {
  if (countedDir < 0) {
    mReassembler.reset(new cReassembler(log, direction));
  } else {
    mReassembler.reset(new cReassembler(log, direction, static_cast<cStats::Dir>(countedDir)));
    mHDLC.countDropsIn(static_cast<cStats::Dir>(countedDir));
  }
}

void cFrameReceiver::feed(const uint8_t* data, size_t length) {
  mHDLC.unFrame(data, static_cast<int>(length), &cFrameReceiver::onFrame, this);
}

void cFrameReceiver::onFrame(void* context, const unsigned char* payload, int length) {
  auto* self = static_cast<cFrameReceiver*>(context);
  if (self->mObserver) self->mObserver(length);
  std::unique_ptr<YMsg> msg(self->mReassembler->onUnit(payload, length));
  if (msg && self->mSink) self->mSink(*msg);
}
