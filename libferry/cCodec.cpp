#include "libferry/cCodec.h"

#include <errno.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

int maxSegment(int kind) {
  return kind == FERRY_KIND_SERIAL ? FERRY_SERIAL_SEGMENT_MAX : FERRY_DATAGRAM_SEGMENT_MAX;
}

}  // namespace

cCodec::cCodec(int kind, int segmentSize)
    : mKind(kind),
      mSegmentSize(segmentSize),
      mNextId(0),
      mOutStart(0),
      mReassembler(*this, "peer"),
      mReportSegments(false),
      mEventCount(0),
      mEventNext(0),
      mCounters{},
      mError{} {
  mHDLC.reportDropsTo(&cCodec::onFrameDrop, this);
  mReassembler.reportDropsTo(&cCodec::onReassemblyDrop, this);
}

int cCodec::create(int kind, int segmentSize, std::unique_ptr<cCodec>* out) {
  if (kind != FERRY_KIND_SERIAL && kind != FERRY_KIND_DATAGRAM) return -EINVAL;
  if (segmentSize == 0)
    segmentSize = kind == FERRY_KIND_SERIAL ? FERRY_SERIAL_SEGMENT_DEFAULT : maxSegment(kind);
  if (segmentSize < FERRY_SEGMENT_MIN || segmentSize > maxSegment(kind)) return -EINVAL;
  out->reset(new cCodec(kind, segmentSize));
  return 0;
}

int cCodec::fail(int code, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vsnprintf(mError, sizeof mError, fmt, args);
  va_end(args);
  return code;
}

// ---- Output ----

int cCodec::takeId(int id, size_t length) {
  if (length > FERRY_MESSAGE_MAX)
    return fail(-EMSGSIZE, "message of %zu bytes: at most %d bytes", length, FERRY_MESSAGE_MAX);
  if (id == FERRY_ID_AUTO) {
    id = mNextId;
    mNextId = (mNextId + 1) & 0x7F;
    return id;
  }
  if (id < 0 || id > 127) return fail(-EINVAL, "message id %d: 0 to 127, or -1 for automatic", id);
  return id;
}

size_t cCodec::encodedSize(size_t length) const {
  if (length > FERRY_MESSAGE_MAX) return 0;
  size_t chunk = static_cast<size_t>(mSegmentSize) - YMsg::kHeaderSize;
  size_t segments = length == 0 ? 1 : (length + chunk - 1) / chunk;
  size_t units = length + segments * YMsg::kHeaderSize;
  if (mKind == FERRY_KIND_DATAGRAM) return units;
  return segments * 2 + 2 * (units + segments * 2);  // flags; every byte and FCS byte escaped
}

size_t cCodec::encodeTo(int id, const void* data, size_t length, uint8_t* out) {
  std::unique_ptr<YMsg> msg(YMsg::create(id, data, length));
  msg->segmentMessage(mSegmentSize);
  uint8_t* o = out;
  unsigned char unit[FERRY_DATAGRAM_SEGMENT_MAX];
  for (size_t k = 0; k < msg->segmentCount(); ++k) {
    YMsg::cSegmentView view;
    msg->viewSegment(k, &view);
    // Datagrams go out as they are; a frame is made from the segment's bytes in one piece.
    unsigned char* u = mKind == FERRY_KIND_DATAGRAM ? o : unit;
    std::memcpy(u, view.header, YMsg::kHeaderSize);
    if (view.length > 0) std::memcpy(u + YMsg::kHeaderSize, view.payload, view.length);
    int n = static_cast<int>(YMsg::kHeaderSize + view.length);
    o += mKind == FERRY_KIND_DATAGRAM ? n : cHDLC::frame(unit, n, o);
  }
  return static_cast<size_t>(o - out);
}

int cCodec::send(const void* data, size_t length, int id) {
  // Bad input is named as such even when the output is full (takeId refuses without counting).
  if (length > FERRY_MESSAGE_MAX || (id != FERRY_ID_AUTO && (id < 0 || id > 127)))
    return takeId(id, length);
  if (pending() >= FERRY_OUTPUT_LIMIT)
    return fail(-EAGAIN, "%zu output bytes not yet taken (limit %d): take output first", pending(),
                FERRY_OUTPUT_LIMIT);
  return sendWith(id, length, [&](int use) {
    if (mOutStart > 0) {  // taken bytes go before anything grows
      mOut.erase(mOut.begin(), mOut.begin() + static_cast<std::ptrdiff_t>(mOutStart));
      mOutStart = 0;
    }
    size_t before = mOut.size();
    try {
      mOut.resize(before + encodedSize(length));
      mOut.resize(before + encodeTo(use, data, length, mOut.data() + before));
    } catch (...) {
      mOut.resize(before);
      throw;
    }
    return 0;
  });
}

int cCodec::output(const uint8_t** data, size_t* length) const {
  *data = mOut.data() + mOutStart;
  *length = pending();
  if (mKind == FERRY_KIND_DATAGRAM && *length > 0) {
    const uint8_t* h = *data;
    *length = YMsg::kHeaderSize + static_cast<size_t>(h[3] | (h[4] << 8));
  }
  return 0;
}

int cCodec::consume(size_t n) {
  const uint8_t* data;
  size_t available;
  output(&data, &available);
  if (n > available || (mKind == FERRY_KIND_DATAGRAM && n != available && n != 0))
    return fail(-EINVAL, "cannot take %zu output bytes: %s %zu", n,
                mKind == FERRY_KIND_DATAGRAM ? "the next datagram holds" : "there are", available);
  mOutStart += n;
  if (mOutStart == mOut.size()) {
    mOut.clear();
    mOutStart = 0;
  }
  return 0;
}

int cCodec::encode(const void* data, size_t length, int id, void* out, size_t capacity,
                   size_t* written) {
  *written = 0;
  return sendWith(id, length, [&](int use) {
    if (capacity >= encodedSize(length)) {
      *written = encodeTo(use, data, length, static_cast<uint8_t*>(out));
      return 0;
    }
    // The bound does not fit, the exact size may: frame aside to find out.
    std::vector<uint8_t> scratch(encodedSize(length));
    scratch.resize(encodeTo(use, data, length, scratch.data()));
    if (scratch.size() > capacity)
      return fail(-ENOSPC, "the message encodes to %zu bytes; the buffer holds %zu", scratch.size(),
                  capacity);
    std::memcpy(out, scratch.data(), scratch.size());
    *written = scratch.size();
    return 0;
  });
}

int cCodec::takeDatagrams(uint8_t* out, size_t capacity, size_t* lengths, size_t maxCount) {
  if (mKind != FERRY_KIND_DATAGRAM)
    return fail(-EINVAL, "several datagrams a call: a datagram kind codec only");
  if (maxCount > INT_MAX) maxCount = INT_MAX;  // the count is the return value
  size_t count = 0;
  size_t used = 0;
  while (count < maxCount) {
    const uint8_t* next;
    size_t length;
    output(&next, &length);
    if (length == 0) break;
    if (length > capacity - used) {
      if (count > 0) break;
      return fail(-ENOSPC, "the next datagram holds %zu bytes; the buffer %zu", length, capacity);
    }
    std::memcpy(out + used, next, length);
    used += length;
    lengths[count++] = length;
    consume(length);
  }
  return static_cast<int>(count);
}
