/* libferry: both ends of the ferryd relay as a library.
 *
 * A message (0 to 65,535 bytes) travels as segments: on the serial line (the Bluetooth peer's
 * side) each segment is an HDLC-style frame with 0x7E, 0x7D and 'A' escaped and an FCS-16; on the
 * broker's side each segment is one UDP datagram of at most 1024 bytes. docs/wire-format.md
 * gives the bytes; docs/libferry.md the API with examples.
 *
 * The codec (ferry_codec) does no I/O: messages in, bytes or datagrams out; bytes or datagrams
 * in, messages and drops out. The port (ferry_port) adds blocking I/O on a tty or a connected
 * descriptor for the common case.
 *
 * Return codes: every call that can fail returns an int, 0 or more on success and a negative
 * errno value on failure (-EINVAL bad argument or NULL handle, -EMSGSIZE message over 65,535
 * bytes, -ENOSPC caller's buffer too small, -EAGAIN output not yet taken / event not yet taken,
 * -ENOMEM, -ETIMEDOUT, -EPIPE end of stream, -EBADF closed port, or the errno of a failed system
 * call). A failing call changes nothing that the caller can see (nothing partial is queued or
 * sent) and leaves a message in ferry_codec_error() / ferry_port_error().
 *
 * Threads: the library starts none and keeps no global state. A codec or port is used by one
 * thread at a time; different handles are independent.
 *
 * Memory: a codec holds at most one partial frame (1,026 bytes), one partial and one complete
 * message (65,535 bytes each) and its untaken output: a send is refused with -EAGAIN while
 * FERRY_OUTPUT_LIMIT bytes or more are untaken, so the output never exceeds FERRY_OUTPUT_LIMIT
 * plus ferry_codec_encoded_size(c, 65535).
 *
 * ABI: handles are opaque; structs the library fills are passed with their size, so later
 * versions can append fields; enums only grow. Only ferry_ names are exported. */
#ifndef FERRY_H
#define FERRY_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(FERRY_BUILDING) && defined(__GNUC__)
#define FERRY_API __attribute__((visibility("default")))
#else
#define FERRY_API
#endif

#define FERRY_VERSION_MAJOR 1
#define FERRY_VERSION_MINOR 1
#define FERRY_VERSION_PATCH 0

/* The library's version, as "1.0.0"; the numbers go to the pointers that are not NULL. The
 * macros above give the header's version, this the version of the library actually loaded. */
FERRY_API const char* ferry_version(int* major, int* minor, int* patch);

/* The generic text of a return code ("Invalid argument"); the handle's error message says more
 * ("segment size 5 out of range 6..1021"). */
FERRY_API const char* ferry_strerror(int code);

/* ---- Codec ------------------------------------------------------------------------------ */

enum ferry_kind {
  FERRY_KIND_SERIAL = 1,  /* framed segments on a byte stream; segment size 6..1021 */
  FERRY_KIND_DATAGRAM = 2 /* one segment per datagram, no framing; segment size 6..1024 */
};

#define FERRY_SERIAL_SEGMENT_DEFAULT 256
#define FERRY_SERIAL_SEGMENT_MAX 1021
#define FERRY_DATAGRAM_SEGMENT_MAX 1024
#define FERRY_SEGMENT_MIN 6
#define FERRY_MESSAGE_MAX 65535
#define FERRY_OUTPUT_LIMIT 65536
#define FERRY_ID_AUTO (-1)

/* Why received data was dropped; ferry_drop_name gives the name ferryd's counters use. */
enum ferry_drop {
  FERRY_DROP_INVALID = 1,        /* "invalid": a unit that is not a valid segment */
  FERRY_DROP_STALE = 2,          /* "stale": a partial message dropped as a new one started */
  FERRY_DROP_LOST_START = 3,     /* "lost-start": a segment whose message start was lost */
  FERRY_DROP_OUT_OF_ORDER = 4,   /* "out-of-order": the partial message and the segment */
  FERRY_DROP_OVERSIZE = 5,       /* "oversize": the message would exceed 65,535 bytes */
  FERRY_DROP_BAD_FCS = 6,        /* "bad-fcs": a frame whose check sequence is wrong */
  FERRY_DROP_OVERSIZE_FRAME = 7, /* "oversize-frame": a frame longer than 1,024 bytes */
  FERRY_DROP_ABORTED_FRAME = 8,  /* "aborted-frame": a frame aborted by 0x7D 0x7E */
  FERRY_DROP_OUT_OF_MEMORY = 9   /* "out-of-memory": a unit that could not be stored */
};
/* "bad-fcs" etc.; "?" for a value this version does not know. */
FERRY_API const char* ferry_drop_name(int reason);

enum ferry_event_type {
  FERRY_EVENT_MESSAGE = 1,
  FERRY_EVENT_DROP = 2,
  /* Only with FERRY_OPTION_SEGMENT_EVENTS: a valid segment received (a good frame's payload or
   * a datagram), before reassembly; id is its message id, length its serialised size, data NULL.
   * For tools that show what the other side sends. */
  FERRY_EVENT_SEGMENT = 3
};

enum ferry_option {
  FERRY_OPTION_SEGMENT_EVENTS = 1 /* value 1: also report FERRY_EVENT_SEGMENT; 0 (default): not */
};

/* What a drop says it dropped, by reason:
 *   stale:          id of the partial message dropped, length the payload bytes it had collected
 *                   (the new message's first segment is kept, not dropped);
 *   lost-start, out-of-order, oversize: the segment's id and its length (header included; an
 *                   out-of-order or oversize drop also drops the partial message of that id);
 *   out-of-memory:  the unit's id (-1 if its header was not read) and its length;
 *   invalid:        id -1, the unit's length (a frame's payload or a datagram);
 *   bad-fcs, oversize-frame, aborted-frame: id -1, the frame's unescaped bytes collected
 *                   (payload and check sequence, as far as they came). */
struct ferry_event {
  int type;            /* enum ferry_event_type */
  int id;              /* message id 0..127; for a drop, as above (-1 when unknown) */
  int reason;          /* enum ferry_drop for a drop, 0 for a message */
  const uint8_t* data; /* message bytes (ferry_codec_next: valid until the next codec call;
                          ferry_codec_decode: inside the caller's out buffer); NULL for a drop */
  size_t length;       /* message length; for a drop, as above */
};

struct ferry_counters {
  uint64_t messages;      /* whole messages received */
  uint64_t bytes;         /* their payload bytes */
  uint64_t sent_messages; /* messages accepted by send or encode */
  uint64_t sent_bytes;    /* their payload bytes */
  /* Drops, indexed by enum ferry_drop ([0] unused; room for reasons later versions add). */
  uint64_t dropped[16];
};

typedef struct ferry_codec ferry_codec;

/* A codec of the given kind; segment_size 0 takes the kind's default (256 serial, 1024
 * datagram). -EINVAL for an unknown kind or a segment size out of range, -ENOMEM. */
FERRY_API int ferry_codec_new(int kind, int segment_size, ferry_codec** out);
/* Frees the codec; NULL is ignored. */
FERRY_API void ferry_codec_free(ferry_codec* c);
/* The message of the last failed call ("" when none failed yet); valid until the next call. */
FERRY_API const char* ferry_codec_error(const ferry_codec* c);
FERRY_API int ferry_codec_kind(const ferry_codec* c);
FERRY_API int ferry_codec_segment_size(const ferry_codec* c);

/* Messages in. */

/* Queues the message's segments (framed for the serial kind) as output. id 0..127, or
 * FERRY_ID_AUTO for the codec's own counter (0, 1, ... 127, 0, ...). Returns the id used.
 * -EAGAIN (nothing queued) while FERRY_OUTPUT_LIMIT bytes or more are untaken. */
FERRY_API int ferry_codec_send(ferry_codec* c, const void* data, size_t length, int id);
/* The output not yet taken: for the serial kind all of it, for the datagram kind the next
 * datagram. *length 0 when there is none. The bytes stay valid until the next send or consume. */
FERRY_API int ferry_codec_output(ferry_codec* c, const uint8_t** data, size_t* length);
/* Marks n bytes of the output as taken (any n up to the serial output's length; for the
 * datagram kind exactly the length of the next datagram). */
FERRY_API int ferry_codec_consume(ferry_codec* c, size_t n);
/* Untaken output bytes (datagram kind: all datagrams together). */
FERRY_API size_t ferry_codec_pending(const ferry_codec* c);
/* Encodes a message straight into out, bypassing the output queue: the serial kind's framed
 * bytes, or the datagram kind's segments back to back (each segment carries its own length).
 * Sets *written; returns the id used. -ENOSPC (nothing written) when out is too small. */
FERRY_API int ferry_codec_encode(ferry_codec* c, const void* data, size_t length, int id, void* out,
                                 size_t capacity, size_t* written);
/* The most bytes ferry_codec_encode or ferry_codec_send produce for a message of length bytes
 * (0 for a length over 65,535). */
FERRY_API size_t ferry_codec_encoded_size(const ferry_codec* c, size_t length);

/* Bytes in. */

/* Feeds received bytes (serial kind: any piece of the stream; datagram kind: exactly one
 * datagram). Stops after the first unit that gives an event, so *consumed may be less than
 * length: take the events with ferry_codec_next, then feed the rest. -EAGAIN (nothing
 * consumed) while events are not yet taken. */
FERRY_API int ferry_codec_feed(ferry_codec* c, const void* data, size_t length, size_t* consumed);
/* Takes the next event: 1 with *event filled (event_size = sizeof(struct ferry_event)), 0 when
 * there is none. */
FERRY_API int ferry_codec_next(ferry_codec* c, struct ferry_event* event, size_t event_size);
/* Feed and next in one call: feeds data, copies each message into out (back to back) and fills
 * events[] (stride event_size) until the data is consumed, max_events are filled or the next
 * message does not fit into out. Returns the number of events; *consumed as for feed. A message
 * that cannot fit an empty out stays pending for ferry_codec_next (or a larger out). Datagram
 * kind: data is one datagram (an empty one is fed too); data NULL (length 0) feeds nothing and
 * only takes events still pending. */
FERRY_API int ferry_codec_decode(ferry_codec* c, const void* data, size_t length, size_t* consumed,
                                 void* out, size_t capacity, struct ferry_event* events,
                                 size_t max_events, size_t event_size);
/* Datagram kind, several datagrams a call (since 1.1): feeds count datagrams, lengths[i] bytes
 * each, back to back in data, and takes their events as ferry_codec_decode does (messages copied
 * into out, events[] filled), events still pending from an earlier call first. Stops before the
 * next datagram once max_events are filled or an event did not fit; the events of a datagram fed
 * that did not fit stay pending (a call with count 0, or ferry_codec_next, takes them). Sets
 * *taken to the datagrams fed (each whole, an empty or oversize one too: a drop); returns the
 * number of events. -EINVAL for the serial kind. */
FERRY_API int ferry_codec_decode_datagrams(ferry_codec* c, const void* data, const size_t* lengths,
                                           size_t count, size_t* taken, void* out, size_t capacity,
                                           struct ferry_event* events, size_t max_events,
                                           size_t event_size);
/* Datagram kind, several datagrams a call (since 1.1): takes queued datagrams in order, copying
 * them back to back into out and their lengths into lengths[], as many as fit into capacity
 * bytes and max_count lengths (never a part of one). Returns their number, 0 when none is
 * queued; -ENOSPC (nothing taken) when the next datagram alone does not fit (capacity
 * FERRY_DATAGRAM_SEGMENT_MAX always does). -EINVAL for the serial kind. */
FERRY_API int ferry_codec_take_datagrams(ferry_codec* c, void* out, size_t capacity,
                                         size_t* lengths, size_t max_count);
/* Forgets a partly received frame and message and untaken events (the line went away); the
 * counters stay. */
FERRY_API int ferry_codec_reset_input(ferry_codec* c);
/* Sets an option (enum ferry_option); -EINVAL for an unknown one. */
FERRY_API int ferry_codec_set_option(ferry_codec* c, int option, int value);
/* Copies min(size, sizeof(struct ferry_counters)) bytes of the counters to *counters. */
FERRY_API int ferry_codec_counters(const ferry_codec* c, struct ferry_counters* counters,
                                   size_t size);

/* ---- Port: blocking I/O for the common case --------------------------------------------- */

typedef struct ferry_port ferry_port;

/* A port with its own codec; no descriptor yet. Besides the codec's memory it holds one read
 * buffer: 4 KiB for the serial kind, 64 KiB for the datagram kind. */
FERRY_API int ferry_port_new(int kind, int segment_size, ferry_port** out);
/* Opens a tty (serial kind only): exclusively (TIOCEXCL), raw 8N1 without flow control at baud
 * (9600 .. 4000000), queues flushed. The port closes it. */
FERRY_API int ferry_port_open(ferry_port* p, const char* path, long baud);
/* Uses an already connected descriptor: a tty, pipe or stream socket (serial kind), a
 * connected datagram socket (datagram kind). The port does not close it and does not change
 * its flags; it waits with poll() before each read and write (a blocking pipe or tty may
 * still hold a large write past the time-out). Sockets are written with
 * MSG_NOSIGNAL; a caller writing to a pipe ignores SIGPIPE itself. */
FERRY_API int ferry_port_adopt(ferry_port* p, int fd);
/* Sends a message, writing all of its bytes (partial writes continue). timeout_ms < 0 waits
 * for ever. On -ETIMEDOUT the rest of the message stays queued and goes out first with the next
 * send or ferry_port_flush. Returns the id used. */
FERRY_API int ferry_port_send(ferry_port* p, const void* data, size_t length, int id,
                              int timeout_ms);
/* Writes queued output; 0 when all is written. */
FERRY_API int ferry_port_flush(ferry_port* p, int timeout_ms);
/* Receives the next message: returns its id with *data and *length set (valid until the next call
 * on the port; ferry_port_send may be given them, to send the message on or back). Drops are
 * counted in the codec and skipped. -ETIMEDOUT when none came in timeout_ms (< 0: wait for ever),
 * -EPIPE at end of stream. */
FERRY_API int ferry_port_recv(ferry_port* p, const uint8_t** data, size_t* length, int timeout_ms);
/* The descriptor for poll() (-1 when none). */
FERRY_API int ferry_port_fd(const ferry_port* p);
/* The port's codec (for counters and the error message); owned by the port. */
FERRY_API ferry_codec* ferry_port_codec(ferry_port* p);
FERRY_API const char* ferry_port_error(const ferry_port* p);
/* Closes the descriptor if the port opened it; later I/O calls return -EBADF. */
FERRY_API int ferry_port_close(ferry_port* p);
/* Closes and frees; NULL is ignored. */
FERRY_API void ferry_port_free(ferry_port* p);

#ifdef __cplusplus
}
#endif

#endif /* FERRY_H */
