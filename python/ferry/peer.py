"""A blocking end of the relay over a tty path, a file object or any connected socket."""
import ctypes
import errno
import os
import time

from . import _lib
from ._lib import lib
from .codec import Codec, Message, _copy, _new_handle

# A wait for ever is cut into waits this long, so that Ctrl-C (KeyboardInterrupt) gets through.
_SLICE_MS = 200


class Peer(_lib.Closing):
    """Messages over one connection, blocking.

    target: a tty path (opened raw at baudrate, exclusively, closed by the Peer), or an object
    with fileno() (a connected socket, an unbuffered file, a pipe) or a descriptor, which stays
    open unless closefd is true. kind "serial" (framed segments, the default) or "datagram" (a
    connected UDP socket). Iterating gives each message's bytes until the other end closes.
    """

    def __init__(self, target, *, kind="serial", segment_size=None, baudrate=115200,
                 closefd=False):
        self._port = None
        self._target = None
        self._closefd = closefd
        path = isinstance(target, (str, bytes, os.PathLike))
        if path:
            if not isinstance(baudrate, int) or isinstance(baudrate, bool):
                raise TypeError(f"a baud rate is an int, not {type(baudrate).__name__}")
        elif isinstance(target, int) and not isinstance(target, bool):
            fd = target
        elif hasattr(target, "fileno"):
            fd = target.fileno()
        else:
            raise TypeError("a Peer takes a tty path, an object with fileno() or a descriptor, "
                            f"not {type(target).__name__}")
        port = _new_handle(lib.ferry_port_new, kind, segment_size)
        if path:
            rc = lib.ferry_port_open(port, os.fsencode(target), baudrate)
        else:
            rc = lib.ferry_port_adopt(port, fd)
        if rc < 0:
            message = lib.ferry_port_error(port).decode()
            lib.ferry_port_free(port)
            raise _lib.error(rc, message)
        self._port = port
        if not path:
            self._target = target  # kept alive (and closed with closefd) by the Peer
        self._next_id = 0
        self.codec = Codec._borrow(lib.ferry_port_codec(port), kind, self)

    def _p(self):
        if self._port is None:
            raise ValueError("I/O operation on a closed ferry.Peer")
        return self._port

    def _error(self, rc):
        return _lib.error(rc, lib.ferry_port_error(self._port).decode())

    @staticmethod
    def _deadline(timeout):
        if timeout is None:
            return None
        if timeout < 0:
            raise ValueError(f"timeout {timeout} is negative")
        return time.monotonic() + timeout

    @staticmethod
    def _wait(call, end):
        """call(ms) until it returns anything but a time-out or an interruption, or the deadline
        end (time.monotonic(); None for ever) has passed; the last return code."""
        while True:
            ms = _SLICE_MS
            if end is not None:
                ms = max(0, min(ms, int((end - time.monotonic()) * 1000 + 0.999)))
            rc = call(ms)
            if rc not in (-errno.ETIMEDOUT, -errno.EINTR):
                return rc
            if end is not None and time.monotonic() >= end:
                return -errno.ETIMEDOUT

    def send(self, message, id=None, timeout=None):
        """Sends a message, all of its bytes, and returns its id (the Peer counts 0 to 127 and
        round again when id is None). TimeoutError when not all of it was written within timeout
        seconds (None: wait for ever): it is queued and its rest goes out first with the next
        send or flush. BlockingIOError, nothing queued, when 64 KiB of earlier messages still
        could not be written in that time."""
        port = self._p()
        data = _lib.as_buffer(message)
        if id is not None:
            _lib.message_id(id)
        end = self._deadline(timeout)
        flush = lambda ms: lib.ferry_port_flush(port, ms)  # noqa: E731
        if self.codec.pending >= _lib.OUTPUT_LIMIT:
            # The codec would refuse the message: earlier output goes first, within the time.
            rc = self._wait(flush, end)
            if rc == -errno.ETIMEDOUT:
                raise BlockingIOError(errno.EAGAIN, f"{self.codec.pending} bytes of earlier "
                                      "messages not written in time: this one was not queued")
            if rc < 0:
                raise self._error(rc)
        auto = id is None
        if auto:
            # Chosen here, not by the codec, so that it is known even when the send returns
            # before the whole message is written.
            id = self._next_id
        rc = lib.ferry_port_send(port, data, len(data), id, 0)
        if auto and (rc >= 0 or rc == -errno.ETIMEDOUT):  # queued, maybe not all written yet
            self._next_id = (id + 1) % 128
        if rc == -errno.ETIMEDOUT:
            rc = self._wait(flush, end)
        if rc < 0:
            raise self._error(rc)
        return id

    def flush(self, timeout=None):
        """Writes what an earlier send left queued; TimeoutError if not all went out in time."""
        port = self._p()
        rc = self._wait(lambda ms: lib.ferry_port_flush(port, ms), self._deadline(timeout))
        if rc < 0:
            raise self._error(rc)

    def receive_message(self, timeout=None):
        """The next Message (id and bytes). TimeoutError when none came within timeout seconds
        (None: wait for ever), EOFError when the other end closed. Drops are counted in
        codec.counters and skipped."""
        port = self._p()
        data = ctypes.c_void_p()
        length = ctypes.c_size_t()
        rc = self._wait(
            lambda ms: lib.ferry_port_recv(port, ctypes.byref(data), ctypes.byref(length), ms),
            self._deadline(timeout),
        )
        if rc == -errno.EPIPE:
            raise EOFError("the other end closed the connection")
        if rc < 0:
            raise self._error(rc)
        return Message(rc, _copy(data.value, length.value))

    def receive(self, timeout=None):
        """The next message's bytes (see receive_message)."""
        return self.receive_message(timeout).data

    def __iter__(self):
        while True:
            try:
                yield self.receive()
            except EOFError:
                return

    def fileno(self):
        """The descriptor, for select/poll/selectors."""
        return lib.ferry_port_fd(self._p())

    @property
    def counters(self):
        return self.codec.counters

    @property
    def closed(self):
        return self._port is None

    def close(self):
        """Closes the tty it opened (or the target, with closefd) and frees the port."""
        if self._port is None:
            return
        self.codec.close()
        lib.ferry_port_free(self._port)
        self._port = None
        if self._closefd and self._target is not None:
            if isinstance(self._target, int):
                os.close(self._target)
            else:
                self._target.close()
        self._target = None
