#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "libferry/ferry.h"
#include "support/YMsg.h"
#include "support/cHDLC.h"
#include "support/cLogSink.h"
#include "support/cReassembler.h"

// The codec behind ferry_codec: the daemon's YMsg cuts messages, its cHDLC frames and unframes
// the serial line, its cReassembler puts messages back together. Failing calls return a negative
// errno value and leave their message in error(). Throws only std::bad_alloc (the C layer turns
// it into -ENOMEM).
class cCodec : private cLogSink {
 public:
  static int create(int kind, int segmentSize, std::unique_ptr<cCodec>* out);

  int kind() const { return mKind; }
  int segmentSize() const { return mSegmentSize; }
  const char* error() const { return mError; }
  // Sets error() from a printf format; returns code.
  int fail(int code, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

  int send(const void* data, size_t length, int id);
  int output(const uint8_t** data, size_t* length) const;
  int consume(size_t n);
  size_t pending() const { return mOut.size() - mOutStart; }
  int encode(const void* data, size_t length, int id, void* out, size_t capacity, size_t* written);
  int takeDatagrams(uint8_t* out, size_t capacity, size_t* lengths, size_t maxCount);
  size_t encodedSize(size_t length) const;

  int feed(const uint8_t* data, size_t length, size_t* consumed);
  int next(ferry_event* event);
  int decode(const uint8_t* data, size_t length, size_t* consumed, uint8_t* out, size_t capacity,
             uint8_t* events, size_t maxEvents, size_t eventSize);
  int decodeDatagrams(const uint8_t* data, const size_t* lengths, size_t count, size_t* taken,
                      uint8_t* out, size_t capacity, uint8_t* events, size_t maxEvents,
                      size_t eventSize);
  void resetInput();
  void reportSegments(bool on) { mReportSegments = on; }
  void counters(ferry_counters* out) const { *out = mCounters; }

 private:
  cCodec(int kind, int segmentSize);
  // The id to use, or a negative code; advances the automatic counter.
  int takeId(int id, size_t length);
  // Gives the message its id and runs write(id), which returns 0 or a negative code and may
  // throw: only a message written moves the automatic counter on and is counted as sent.
  template <class Write>
  int sendWith(int id, size_t length, Write write) {
    int saveNext = mNextId;
    int use = takeId(id, length);
    if (use < 0) return use;
    int rc;
    try {
      rc = write(use);
    } catch (...) {
      mNextId = saveNext;
      throw;
    }
    if (rc < 0) {
      mNextId = saveNext;
      return rc;
    }
    ++mCounters.sent_messages;
    mCounters.sent_bytes += length;
    return use;
  }
  // Writes the message's bytes to out, which holds encodedSize(length); returns their number.
  size_t encodeTo(int id, const void* data, size_t length, uint8_t* out);

  void onUnit(const unsigned char* unit, int length);
  void onDrop(int reason, int id, int length);
  static void onFrame(void* self, const unsigned char* payload, int length);
  static void onFrameDrop(void* self, cHDLC::DropReason reason, int length);
  static void onReassemblyDrop(void* self, cStats::Counter counter, int id, int length);
  void warnLine(const char*) const override {}
  void errorLine(const char*) const override {}

  struct cEvent {
    int type;
    int id;
    int reason;
    size_t length;
    std::unique_ptr<YMsg> msg;
  };
  static void fill(const cEvent& e, const uint8_t* data, ferry_event* out);
  // Where decode and decodeDatagrams put the events they take: the caller's buffers and how much
  // of them is used.
  struct cSink {
    uint8_t* out;
    size_t capacity;
    size_t used;
    uint8_t* events;
    size_t maxEvents;
    size_t eventSize;
    size_t count;
  };
  // Moves pending events into the sink while they fit; true when none is left pending.
  bool takeEvents(cSink* sink);
  // One piece of the serial stream gives at most an oversize frame, a segment, a drop and a
  // message.
  static constexpr int kMaxEvents = 4;

  int mKind;
  int mSegmentSize;
  int mNextId;
  std::vector<uint8_t> mOut;
  size_t mOutStart;  // bytes of mOut already taken
  cHDLC mHDLC;
  cReassembler mReassembler;
  bool mReportSegments;
  cEvent mEvents[kMaxEvents];
  int mEventCount;
  int mEventNext;
  std::unique_ptr<YMsg> mDelivered;  // the message next() handed out last
  ferry_counters mCounters;
  char mError[256];
};
