"""Loads libferry (the C library) through ctypes and turns its return codes into exceptions.

The library is found at the path in the FERRY_LIBRARY environment variable (a build tree, the
tests) or as the installed libferry.so.1.
"""
import array
import ctypes
import errno
import os
import struct

SONAME = "libferry.so.1"
MAJOR = 1
MINOR = 1  # the several-datagrams calls came with 1.1

KIND_SERIAL = 1
KIND_DATAGRAM = 2
KINDS = {"serial": KIND_SERIAL, "datagram": KIND_DATAGRAM}
ID_AUTO = -1
MESSAGE_MAX = 65535
OUTPUT_LIMIT = 65536
EVENT_MESSAGE = 1
EVENT_DROP = 2


class Closing:
    """A handle's owner: closed by close(), at the end of a with block, or when collected."""

    def close(self):
        raise NotImplementedError

    def __del__(self):
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Event(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int),
        ("id", ctypes.c_int),
        ("reason", ctypes.c_int),
        ("data", ctypes.c_void_p),
        ("length", ctypes.c_size_t),
    ]


# struct ferry_event's bytes, for reading many events at once (far cheaper than field access).
EVENT_STRUCT = struct.Struct("@iiiPN")
# Datagram lengths go to the library as an array of size_t: "L" (unsigned long) is as wide.
SIZE_ARRAY = "L"
if EVENT_STRUCT.size != ctypes.sizeof(Event) or array.array(SIZE_ARRAY).itemsize != ctypes.sizeof(
        ctypes.c_size_t):
    raise ImportError("ferry: this platform's struct ferry_event or size_t is not as expected")


class Counters(ctypes.Structure):
    _fields_ = [
        ("messages", ctypes.c_uint64),
        ("bytes", ctypes.c_uint64),
        ("sent_messages", ctypes.c_uint64),
        ("sent_bytes", ctypes.c_uint64),
        ("dropped", ctypes.c_uint64 * 16),
    ]


_c = ctypes
_p = ctypes.c_void_p
_sz = ctypes.c_size_t
_szp = ctypes.POINTER(ctypes.c_size_t)
_bytesp = ctypes.POINTER(ctypes.c_void_p)
_intp = ctypes.POINTER(ctypes.c_int)

# name: (result type, argument types)
_PROTOTYPES = {
    "ferry_version": (_c.c_char_p, [_intp, _intp, _intp]),
    "ferry_strerror": (_c.c_char_p, [_c.c_int]),
    "ferry_drop_name": (_c.c_char_p, [_c.c_int]),
    "ferry_codec_new": (_c.c_int, [_c.c_int, _c.c_int, _bytesp]),
    "ferry_codec_free": (None, [_p]),
    "ferry_codec_error": (_c.c_char_p, [_p]),
    "ferry_codec_segment_size": (_c.c_int, [_p]),
    "ferry_codec_send": (_c.c_int, [_p, _p, _sz, _c.c_int]),
    "ferry_codec_output": (_c.c_int, [_p, _bytesp, _szp]),
    "ferry_codec_consume": (_c.c_int, [_p, _sz]),
    "ferry_codec_pending": (_sz, [_p]),
    "ferry_codec_encode": (_c.c_int, [_p, _p, _sz, _c.c_int, _p, _sz, _szp]),
    "ferry_codec_encoded_size": (_sz, [_p, _sz]),
    "ferry_codec_decode": (
        _c.c_int,
        [_p, _p, _sz, _szp, _p, _sz, _c.POINTER(Event), _sz, _sz],
    ),
    "ferry_codec_decode_datagrams": (
        _c.c_int,
        [_p, _p, _p, _sz, _szp, _p, _sz, _c.POINTER(Event), _sz, _sz],
    ),
    "ferry_codec_take_datagrams": (_c.c_int, [_p, _p, _sz, _p, _sz]),
    "ferry_codec_next": (_c.c_int, [_p, _c.POINTER(Event), _sz]),
    "ferry_codec_reset_input": (_c.c_int, [_p]),
    "ferry_codec_counters": (_c.c_int, [_p, _c.POINTER(Counters), _sz]),
    "ferry_port_new": (_c.c_int, [_c.c_int, _c.c_int, _bytesp]),
    "ferry_port_open": (_c.c_int, [_p, _c.c_char_p, _c.c_long]),
    "ferry_port_adopt": (_c.c_int, [_p, _c.c_int]),
    "ferry_port_send": (_c.c_int, [_p, _p, _sz, _c.c_int, _c.c_int]),
    "ferry_port_flush": (_c.c_int, [_p, _c.c_int]),
    "ferry_port_recv": (_c.c_int, [_p, _bytesp, _szp, _c.c_int]),
    "ferry_port_fd": (_c.c_int, [_p]),
    "ferry_port_codec": (_p, [_p]),
    "ferry_port_error": (_c.c_char_p, [_p]),
    "ferry_port_close": (_c.c_int, [_p]),
    "ferry_port_free": (None, [_p]),
}


def _load():
    path = os.environ.get("FERRY_LIBRARY") or SONAME
    try:
        lib = ctypes.CDLL(path)
    except OSError as e:
        raise ImportError(
            f"ferry: cannot load {path} ({e}); install the libferry1 package or set "
            "FERRY_LIBRARY to the library's file"
        ) from None
    lib.ferry_version.restype = _c.c_char_p
    major, minor = ctypes.c_int(), ctypes.c_int()
    version = lib.ferry_version(ctypes.byref(major), ctypes.byref(minor), None).decode()
    if major.value != MAJOR or minor.value < MINOR:
        raise ImportError(f"ferry: {path} is version {version}, this package needs "
                          f"{MAJOR}.{MINOR} or a later {MAJOR}.x")
    for name, (restype, argtypes) in _PROTOTYPES.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib, version


lib, library_version = _load()


def drop_name(reason):
    return lib.ferry_drop_name(reason).decode()


# Return codes that Python has its own exception type for; the rest become OSError with the
# errno (which picks TimeoutError, BlockingIOError, BrokenPipeError, ... by itself).
_EXCEPTIONS = {errno.EINVAL: ValueError, errno.EMSGSIZE: ValueError, errno.ENOMEM: MemoryError}


def error(code, message):
    """The exception for a negative return code, with the library's message."""
    number = -code
    text = message or lib.ferry_strerror(code).decode()
    kind = _EXCEPTIONS.get(number)
    if kind is not None:
        return kind(text)
    return OSError(number, text)


def as_buffer(message):
    """A bytes-like object's bytes for a call (no copy for bytes); TypeError for anything else."""
    if type(message) is bytes:
        return message
    try:
        return bytes(memoryview(message))
    except TypeError:
        raise TypeError(
            f"a message is a bytes-like object, not {type(message).__name__}"
        ) from None


def message_id(id):
    """The id argument of a send: None for the codec's own counter, or 0..127."""
    if id is None:
        return ID_AUTO
    if not isinstance(id, int) or isinstance(id, bool):
        raise TypeError(f"a message id is an int, not {type(id).__name__}")
    if not 0 <= id <= 127:
        raise ValueError(f"message id {id} out of range 0..127")
    return id
