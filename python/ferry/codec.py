"""The sans-I/O codec: messages in, serial-line bytes or datagrams out; bytes in, events out."""
import array
import ctypes
import errno
from typing import NamedTuple, Optional

from . import _lib
from ._lib import lib


class Message(NamedTuple):
    """A whole message received: its id (0..127) and its bytes."""

    id: int
    data: bytes


class Drop(NamedTuple):
    """Received data that was dropped: the reason under the daemon's counter name ("bad-fcs"),
    the message id when known (else None) and the bytes dropped: for "stale" the partial
    message's payload so far (the new message is kept), otherwise the dropped unit or frame."""

    reason: str
    id: Optional[int]
    length: int


_MAX_SEGMENT = {"serial": 1021, "datagram": 1024}
_DEFAULT_SEGMENT = {"serial": 256, "datagram": 1024}
# Messages received are copied into this much room per call into the library (at least one
# message of 65,535 bytes always fits), with this many events.
_OUT_CAPACITY = 256 * 1024
_EVENTS = 256
_EVENT_SIZE = ctypes.sizeof(_lib.Event)
_UNPACK_EVENTS = _lib.EVENT_STRUCT.iter_unpack
# Datagrams move this many bytes (and at most this many datagrams) a library call: the buffers
# Python makes for them stay small enough for malloc to reuse warm memory, where larger ones are
# fresh mappings that cost a page fault every 4 KiB.
_TAKE_CAPACITY = 64 * 1024
_TAKE_COUNT = 256
_FEED_COUNT = 64
_SIZE_T = ctypes.sizeof(ctypes.c_size_t)
# A Message without NamedTuple's keyword handling in __new__: a third of the cost.
_new_tuple = tuple.__new__


def _copy(address, length):
    return ctypes.string_at(address, length) if length else b""


def _drop_names():
    names = {}
    for reason in range(1, 16):
        name = _lib.drop_name(reason)
        if name != "?":
            names[reason] = name
    return names


_DROP_NAMES = _drop_names()


def _new_handle(new, kind, segment_size):
    """Checks the kind and size, calls new(kind, size, &handle) and returns the handle."""
    if kind not in _lib.KINDS:
        raise ValueError(f"unknown codec kind {kind!r} (serial or datagram)")
    if segment_size is None:
        segment_size = 0
    elif not isinstance(segment_size, int) or isinstance(segment_size, bool):
        raise TypeError(f"a segment size is an int, not {type(segment_size).__name__}")
    handle = ctypes.c_void_p()
    rc = new(_lib.KINDS[kind], segment_size, ctypes.byref(handle))
    if rc < 0:
        # Nothing to ask for the message: there is no handle.
        why = f"segment size {segment_size} out of range 6..{_MAX_SEGMENT[kind]} for {kind}"
        raise _lib.error(rc, why if rc == -errno.EINVAL else "")
    return handle.value


class Codec(_lib.Closing):
    """One connection's codec, without I/O (one thread at a time).

    kind "serial": the peer's side, framed segments on a byte stream (segment size 6..1021,
    default 256); kind "datagram": the broker's side, one segment per datagram (6..1024, default
    1024). send() queues a message's output, data_to_send() or datagrams_to_send() takes it;
    receive_data() takes received bytes (one datagram per call for the datagram kind) and returns
    the Message and Drop events they complete.
    """

    def __init__(self, kind="serial", segment_size=None):
        self._owner = None
        self._handle = None
        self._handle = _new_handle(lib.ferry_codec_new, kind, segment_size)
        self._setup(kind)

    @classmethod
    def _borrow(cls, handle, kind, owner):
        """The codec inside a port: the port owns (and frees) it."""
        codec = cls.__new__(cls)
        codec._owner = owner
        codec._handle = handle
        codec._setup(kind)
        return codec

    def _setup(self, kind):
        self.kind = kind
        self.segment_size = lib.ferry_codec_segment_size(self._handle)
        self._out_view = None  # made by the first receive_data (a Peer's codec needs none)
        self._consumed = ctypes.c_size_t()
        self._consumed_ref = ctypes.byref(self._consumed)
        self._encoded = None
        self._take = None  # made by the first datagrams_to_send
        # Arguments by reference made once: ctypes.byref costs as much as the call itself.
        self._data = ctypes.c_void_p()
        self._length = ctypes.c_size_t()
        self._data_ref = ctypes.byref(self._data)
        self._length_ref = ctypes.byref(self._length)

    def _make_out(self):
        self._events = (_lib.Event * _EVENTS)()
        self._events_address = ctypes.addressof(self._events)
        out = bytearray(_OUT_CAPACITY)
        self._out_view = memoryview(out)
        self._out_address = ctypes.addressof(ctypes.c_char.from_buffer(out))

    def _h(self):
        if self._handle is None:
            raise ValueError("operation on a closed ferry.Codec")
        return self._handle

    def _error(self, rc):
        return _lib.error(rc, lib.ferry_codec_error(self._handle).decode())

    def close(self):
        """Frees the codec (a codec borrowed from a Peer is freed with it)."""
        if self._handle is not None and self._owner is None:
            lib.ferry_codec_free(self._handle)
        self._handle = None


    def send(self, message, id=None):
        """Queues a message's segments as output and returns the id used (the codec counts 0 to
        127 and round again when id is None). BlockingIOError, nothing queued, while 64 KiB or
        more of output are untaken."""
        data = message if type(message) is bytes else _lib.as_buffer(message)
        handle = self._handle
        if handle is None:
            self._h()
        id = _lib.ID_AUTO if id is None else _lib.message_id(id)
        rc = lib.ferry_codec_send(handle, data, len(data), id)
        if rc < 0:
            raise self._error(rc)
        return rc

    def output(self):
        """The output not yet taken, left in place (the datagram kind: the next datagram)."""
        rc = lib.ferry_codec_output(self._h(), self._data_ref, self._length_ref)
        if rc < 0:
            raise self._error(rc)
        return _copy(self._data.value, self._length.value)

    def consume(self, n):
        """Marks n bytes of the output as taken (what a partial write wrote; for the datagram
        kind the whole next datagram)."""
        rc = lib.ferry_codec_consume(self._h(), n)
        if rc < 0:
            raise self._error(rc)

    def data_to_send(self):
        """Takes the output: all of it for the serial kind, the next datagram for the datagram
        kind (b"" when there is none)."""
        handle = self._h()
        rc = lib.ferry_codec_output(handle, self._data_ref, self._length_ref)
        length = self._length.value
        if rc < 0 or length == 0:
            if rc < 0:
                raise self._error(rc)
            return b""
        data = ctypes.string_at(self._data.value, length)
        lib.ferry_codec_consume(handle, length)  # what output gave: cannot fail
        return data

    def datagrams_to_send(self):
        """Takes every datagram queued (datagram kind), a list of bytes, in as few library calls
        as 64 KiB at a time take."""
        if self.kind != "datagram":
            data = self.data_to_send()
            return [data] if data else []
        handle = self._h()
        if self._take is None:
            self._take = ctypes.create_string_buffer(_TAKE_CAPACITY)
            self._take_lengths = (ctypes.c_size_t * _TAKE_COUNT)()
        datagrams = []
        while True:
            rc = lib.ferry_codec_take_datagrams(handle, self._take, _TAKE_CAPACITY,
                                                self._take_lengths, _TAKE_COUNT)
            if rc <= 0:
                if rc < 0:
                    raise self._error(rc)
                return datagrams
            lengths = self._take_lengths[:rc]
            blob = ctypes.string_at(self._take, sum(lengths))
            at = 0
            for length in lengths:
                datagrams.append(blob[at : at + length])
                at += length

    @property
    def pending(self):
        """Output bytes not yet taken."""
        return lib.ferry_codec_pending(self._h())

    def encode(self, message, id=None):
        """A message's output in one piece, without the output queue: the serial kind's framed
        bytes, or the datagram kind's segments back to back."""
        data = message if type(message) is bytes else _lib.as_buffer(message)
        handle = self._handle
        if handle is None:
            self._h()
        if self._encoded is None:
            size = lib.ferry_codec_encoded_size(self._h(), _lib.MESSAGE_MAX)
            self._encoded = ctypes.create_string_buffer(size)
            self._encoded_address = ctypes.addressof(self._encoded)
        rc = lib.ferry_codec_encode(handle, data, len(data),
                                    _lib.ID_AUTO if id is None else _lib.message_id(id),
                                    self._encoded_address, len(self._encoded), self._consumed_ref)
        if rc < 0:
            raise self._error(rc)
        return ctypes.string_at(self._encoded_address, self._consumed.value)

    def receive_data(self, data):
        """Feeds received bytes (the serial kind: any piece of the stream; the datagram kind:
        exactly one datagram) and returns the events completed, Message and Drop, in order."""
        data = data if type(data) is bytes else _lib.as_buffer(data)
        handle = self._handle
        if handle is None:
            self._h()
        if self._out_view is None:
            self._make_out()
        found = []
        total = len(data)
        rc, used = self._decode(handle, data, total, found)  # once at least: b"" is a datagram
        offset = self._consumed.value
        if offset < total:
            base = ctypes.cast(data, ctypes.c_void_p).value
            while offset < total:
                rc, used = self._decode(handle, base + offset, total - offset, found)
                if rc == 0 and self._consumed.value == 0:
                    raise RuntimeError("ferry: the library took no data and gave no event")
                offset += self._consumed.value
        # An event the last call had no room for stays in the codec: a call that feeds nothing
        # takes it.
        while rc == _EVENTS or used > _OUT_CAPACITY - _lib.MESSAGE_MAX:
            rc, used = self._decode(handle, None, 0, found)
        return found

    def receive_datagrams(self, datagrams):
        """Feeds several received datagrams (datagram kind; an iterable of bytes-like objects,
        each one whole datagram) in as few library calls as their events take, and returns the
        events completed, Message and Drop, in order: what receive_data on each gives."""
        handle = self._h()
        if self.kind != "datagram":
            raise ValueError("receive_datagrams: a datagram kind codec only")
        if self._out_view is None:
            self._make_out()
        datagrams = datagrams if type(datagrams) is list else list(datagrams)
        found = []
        for begin in range(0, len(datagrams), _FEED_COUNT):
            self._decode_datagrams(handle, datagrams[begin : begin + _FEED_COUNT], found)
        return found

    def _decode_datagrams(self, handle, datagrams, found):
        """Feeds the datagrams (one buffer and their lengths) in as many library calls as their
        events take; the events appended to found."""
        try:
            data = b"".join(datagrams)
        except TypeError:
            raise TypeError("a datagram is a bytes-like object") from None
        lengths = array.array(_lib.SIZE_ARRAY, map(len, datagrams))
        if sum(lengths) != len(data):  # len() of a memoryview counts items, not bytes
            lengths = array.array(_lib.SIZE_ARRAY, (len(_lib.as_buffer(d)) for d in datagrams))
        data_address = ctypes.cast(data, ctypes.c_void_p).value
        lengths_address = lengths.buffer_info()[0]
        first = at = 0
        total = len(lengths)
        while True:
            rc = lib.ferry_codec_decode_datagrams(
                handle, data_address + at, lengths_address + first * _SIZE_T, total - first,
                self._consumed_ref, self._out_address, _OUT_CAPACITY, self._events, _EVENTS,
                _EVENT_SIZE)
            if rc < 0:
                raise self._error(rc)
            taken = self._consumed.value
            self._take_events(rc, found)
            if taken:
                at += sum(lengths[first : first + taken])
                first += taken
            elif rc == 0:  # nothing pending and nothing fed: all done
                if first < total:
                    raise RuntimeError("ferry: the library took no datagram and gave no event")
                return

    def _decode(self, handle, data, length, found):
        """One ferry_codec_decode call; its events appended to found. Returns the number of
        events and the bytes of out they used."""
        rc = lib.ferry_codec_decode(handle, data, length, self._consumed_ref, self._out_address,
                                    _OUT_CAPACITY, self._events, _EVENTS, _EVENT_SIZE)
        if rc < 0:
            raise self._error(rc)
        return rc, self._take_events(rc, found)

    def _take_events(self, count, found):
        """Appends the count events of the last library call to found; returns the bytes of out
        their messages used."""
        if count == 0:
            return 0
        raw = ctypes.string_at(self._events_address, count * _EVENT_SIZE)
        events = list(_UNPACK_EVENTS(raw))
        out_address = self._out_address
        # The messages lie back to back from the start of out: copy them out in one piece.
        used = 0
        for kind, _, _, address, length in reversed(events):
            if kind == _lib.EVENT_MESSAGE and length:
                used = address - out_address + length
                break
        blob = self._out_view[:used].tobytes()
        for kind, id, reason, address, length in events:
            if kind == _lib.EVENT_MESSAGE:
                start = address - out_address if length else 0
                found.append(_new_tuple(Message, (id, blob[start : start + length])))
            elif kind == _lib.EVENT_DROP:  # later kinds of event are not asked for
                found.append(Drop(_DROP_NAMES.get(reason, "?"), None if id < 0 else id, length))
        return used

    def reset_input(self):
        """Forgets a partly received frame and message (the line went away); counters stay."""
        rc = lib.ferry_codec_reset_input(self._h())
        if rc < 0:
            raise self._error(rc)

    @property
    def counters(self):
        """Totals since the codec was made, under the daemon's counter names: messages, bytes
        (received), sent-messages, sent-bytes and one entry for every drop reason."""
        c = _lib.Counters()
        rc = lib.ferry_codec_counters(self._h(), ctypes.byref(c), ctypes.sizeof(c))
        if rc < 0:
            raise self._error(rc)
        counts = {
            "messages": c.messages,
            "bytes": c.bytes,
            "sent-messages": c.sent_messages,
            "sent-bytes": c.sent_bytes,
        }
        for reason, name in _DROP_NAMES.items():
            counts[name] = c.dropped[reason]
        return counts
