// The C interface: argument checks, handles, and no exception past the ABI.
#include "libferry/ferry.h"

#include <errno.h>

#include <cstring>
#include <new>

#include "libferry/cCodec.h"
#include "libferry/cPort.h"

struct ferry_codec {
  std::unique_ptr<cCodec> owned;  // empty for a port's codec
  cCodec* codec;
};

struct ferry_port {
  std::unique_ptr<cPort> port;
  ferry_codec codec;
};

#define FERRY_STR2(x) #x
#define FERRY_STR(x) FERRY_STR2(x)

namespace {

// clang-format off
const char* const kDropNames[] = {
  "?", "invalid", "stale", "lost-start", "out-of-order", "oversize", "bad-fcs",
  "oversize-frame", "aborted-frame", "out-of-memory",
};
// clang-format on

// Runs f, turning a failed allocation into -ENOMEM with the message in the handle.
template <typename H, typename F>
int guarded(H* h, F f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return h->fail(-ENOMEM, "out of memory");
  } catch (...) {
    return h->fail(-EIO, "internal error");
  }
}

}  // namespace

extern "C" {

const char* ferry_version(int* major, int* minor, int* patch) {
  if (major != nullptr) *major = FERRY_VERSION_MAJOR;
  if (minor != nullptr) *minor = FERRY_VERSION_MINOR;
  if (patch != nullptr) *patch = FERRY_VERSION_PATCH;
  return FERRY_STR(FERRY_VERSION_MAJOR) "." FERRY_STR(FERRY_VERSION_MINOR) "." FERRY_STR(
      FERRY_VERSION_PATCH);
}

const char* ferry_strerror(int code) {
  return code == 0 ? "Success" : strerror(code < 0 ? -code : code);
}

const char* ferry_drop_name(int reason) {
  int n = static_cast<int>(sizeof kDropNames / sizeof kDropNames[0]);
  return reason > 0 && reason < n ? kDropNames[reason] : "?";
}

int ferry_codec_new(int kind, int segment_size, ferry_codec** out) {
  if (out == nullptr) return -EINVAL;
  *out = nullptr;
  try {
    std::unique_ptr<ferry_codec> c(new ferry_codec);
    int rc = cCodec::create(kind, segment_size, &c->owned);
    if (rc < 0) return rc;
    c->codec = c->owned.get();
    *out = c.release();
    return 0;
  } catch (const std::bad_alloc&) {
    return -ENOMEM;
  }
}

void ferry_codec_free(ferry_codec* c) {
  if (c != nullptr && c->owned) delete c;  // a port's codec goes with its port
}

const char* ferry_codec_error(const ferry_codec* c) {
  return c == nullptr ? "no codec (NULL)" : c->codec->error();
}

int ferry_codec_kind(const ferry_codec* c) {
  return c == nullptr ? -EINVAL : c->codec->kind();
}

int ferry_codec_segment_size(const ferry_codec* c) {
  return c == nullptr ? -EINVAL : c->codec->segmentSize();
}

int ferry_codec_send(ferry_codec* c, const void* data, size_t length, int id) {
  if (c == nullptr) return -EINVAL;
  cCodec* k = c->codec;
  if (data == nullptr && length > 0) return k->fail(-EINVAL, "message data is NULL");
  return guarded(k, [&] { return k->send(data, length, id); });
}

int ferry_codec_output(ferry_codec* c, const uint8_t** data, size_t* length) {
  if (c == nullptr || data == nullptr || length == nullptr) return -EINVAL;
  return c->codec->output(data, length);
}

int ferry_codec_consume(ferry_codec* c, size_t n) {
  return c == nullptr ? -EINVAL : c->codec->consume(n);
}

size_t ferry_codec_pending(const ferry_codec* c) {
  return c == nullptr ? 0 : c->codec->pending();
}

int ferry_codec_encode(ferry_codec* c, const void* data, size_t length, int id, void* out,
                       size_t capacity, size_t* written) {
  if (c == nullptr) return -EINVAL;
  cCodec* k = c->codec;
  if (written == nullptr || (out == nullptr && capacity > 0) || (data == nullptr && length > 0))
    return k->fail(-EINVAL, "NULL data, output buffer or written pointer");
  return guarded(k, [&] { return k->encode(data, length, id, out, capacity, written); });
}

size_t ferry_codec_encoded_size(const ferry_codec* c, size_t length) {
  return c == nullptr ? 0 : c->codec->encodedSize(length);
}

int ferry_codec_feed(ferry_codec* c, const void* data, size_t length, size_t* consumed) {
  if (c == nullptr) return -EINVAL;
  cCodec* k = c->codec;
  if (consumed == nullptr || (data == nullptr && length > 0))
    return k->fail(-EINVAL, "NULL data or consumed pointer");
  return guarded(k, [&] { return k->feed(static_cast<const uint8_t*>(data), length, consumed); });
}

int ferry_codec_next(ferry_codec* c, struct ferry_event* event, size_t event_size) {
  if (c == nullptr) return -EINVAL;
  cCodec* k = c->codec;
  if (event == nullptr || event_size == 0) return k->fail(-EINVAL, "NULL event or size 0");
  ferry_event full;
  int rc = k->next(&full);
  if (rc == 1) std::memcpy(event, &full, event_size < sizeof full ? event_size : sizeof full);
  return rc;
}

int ferry_codec_decode(ferry_codec* c, const void* data, size_t length, size_t* consumed, void* out,
                       size_t capacity, struct ferry_event* events, size_t max_events,
                       size_t event_size) {
  if (c == nullptr) return -EINVAL;
  cCodec* k = c->codec;
  if (consumed == nullptr || (data == nullptr && length > 0) || (out == nullptr && capacity > 0) ||
      (events == nullptr && max_events > 0) || event_size == 0)
    return k->fail(-EINVAL, "NULL data, consumed, output or events, or event size 0");
  return guarded(k, [&] {
    return k->decode(static_cast<const uint8_t*>(data), length, consumed,
                     static_cast<uint8_t*>(out), capacity, reinterpret_cast<uint8_t*>(events),
                     max_events, event_size);
  });
}

int ferry_codec_decode_datagrams(ferry_codec* c, const void* data, const size_t* lengths,
                                 size_t count, size_t* taken, void* out, size_t capacity,
                                 struct ferry_event* events, size_t max_events, size_t event_size) {
  if (c == nullptr) return -EINVAL;
  cCodec* k = c->codec;
  if (taken == nullptr || (lengths == nullptr && count > 0) || (out == nullptr && capacity > 0) ||
      (events == nullptr && max_events > 0) || event_size == 0)
    return k->fail(-EINVAL, "NULL lengths, taken, output or events, or event size 0");
  if (data == nullptr) {  // only empty datagrams can come from nowhere
    for (size_t i = 0; i < count; ++i)
      if (lengths[i] > 0) return k->fail(-EINVAL, "datagram data is NULL");
  }
  return guarded(k, [&] {
    return k->decodeDatagrams(static_cast<const uint8_t*>(data), lengths, count, taken,
                              static_cast<uint8_t*>(out), capacity,
                              reinterpret_cast<uint8_t*>(events), max_events, event_size);
  });
}

int ferry_codec_take_datagrams(ferry_codec* c, void* out, size_t capacity, size_t* lengths,
                               size_t max_count) {
  if (c == nullptr) return -EINVAL;
  cCodec* k = c->codec;
  if ((out == nullptr && capacity > 0) || (lengths == nullptr && max_count > 0))
    return k->fail(-EINVAL, "NULL output or lengths");
  return k->takeDatagrams(static_cast<uint8_t*>(out), capacity, lengths, max_count);
}

int ferry_codec_reset_input(ferry_codec* c) {
  if (c == nullptr) return -EINVAL;
  c->codec->resetInput();
  return 0;
}

int ferry_codec_set_option(ferry_codec* c, int option, int value) {
  if (c == nullptr) return -EINVAL;
  if (option != FERRY_OPTION_SEGMENT_EVENTS)
    return c->codec->fail(-EINVAL, "unknown option %d", option);
  c->codec->reportSegments(value != 0);
  return 0;
}

int ferry_codec_counters(const ferry_codec* c, struct ferry_counters* counters, size_t size) {
  if (c == nullptr || counters == nullptr) return -EINVAL;
  ferry_counters full;
  c->codec->counters(&full);
  std::memcpy(counters, &full, size < sizeof full ? size : sizeof full);
  return 0;
}

int ferry_port_new(int kind, int segment_size, ferry_port** out) {
  if (out == nullptr) return -EINVAL;
  *out = nullptr;
  try {
    std::unique_ptr<ferry_port> p(new ferry_port);
    int rc = cPort::create(kind, segment_size, &p->port);
    if (rc < 0) return rc;
    p->codec.codec = &p->port->codec();
    *out = p.release();
    return 0;
  } catch (const std::bad_alloc&) {
    return -ENOMEM;
  }
}

int ferry_port_open(ferry_port* p, const char* path, long baud) {
  if (p == nullptr) return -EINVAL;
  cPort* k = p->port.get();
  if (path == nullptr) return k->fail(-EINVAL, "NULL path");
  return guarded(k, [&] { return k->open(path, baud); });
}

int ferry_port_adopt(ferry_port* p, int fd) {
  return p == nullptr ? -EINVAL : p->port->adopt(fd);
}

int ferry_port_send(ferry_port* p, const void* data, size_t length, int id, int timeout_ms) {
  if (p == nullptr) return -EINVAL;
  cPort* k = p->port.get();
  if (data == nullptr && length > 0) return k->fail(-EINVAL, "message data is NULL");
  return guarded(k, [&] { return k->send(data, length, id, timeout_ms); });
}

int ferry_port_flush(ferry_port* p, int timeout_ms) {
  return p == nullptr ? -EINVAL : p->port->flush(timeout_ms);
}

int ferry_port_recv(ferry_port* p, const uint8_t** data, size_t* length, int timeout_ms) {
  if (p == nullptr) return -EINVAL;
  cPort* k = p->port.get();
  if (data == nullptr || length == nullptr) return k->fail(-EINVAL, "NULL data or length");
  return guarded(k, [&] { return k->recv(data, length, timeout_ms); });
}

int ferry_port_fd(const ferry_port* p) {
  return p == nullptr ? -1 : p->port->fd();
}

ferry_codec* ferry_port_codec(ferry_port* p) {
  return p == nullptr ? nullptr : &p->codec;
}

const char* ferry_port_error(const ferry_port* p) {
  return p == nullptr ? "no port (NULL)" : p->port->error();
}

int ferry_port_close(ferry_port* p) {
  return p == nullptr ? -EINVAL : p->port->close();
}

void ferry_port_free(ferry_port* p) {
  delete p;
}

}  // extern "C"
