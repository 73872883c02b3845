"""Connecting to a board's serial port profile over RFCOMM with Python's own socket module
(no rfcomm bind, no /dev/rfcomm0)."""
import errno
import re
import socket

from .peer import Peer

_ADDRESS = re.compile(r"^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$")
# What the kernel says when it has no Bluetooth at all (no bluetooth module, no adapter, a
# container without the address family).
_NO_BLUETOOTH = (errno.EAFNOSUPPORT, errno.EPROTONOSUPPORT, errno.ESOCKTNOSUPPORT, errno.ENODEV,
                 errno.EHOSTUNREACH, errno.ENETDOWN)


def connect_rfcomm(address, channel=1, *, timeout=None, segment_size=None):
    """A Peer on an RFCOMM connection to address ("00:16:A4:B1:C2:D3") and channel (1..30):
    one socket, closed with the Peer. OSError with what is missing on a host without
    Bluetooth, TimeoutError when the connection takes longer than timeout seconds."""
    if not isinstance(address, str) or not _ADDRESS.match(address):
        raise ValueError(f"Bluetooth address {address!r} is not of the form 00:16:A4:B1:C2:D3")
    if not isinstance(channel, int) or isinstance(channel, bool):
        raise TypeError(f"an RFCOMM channel is an int, not {type(channel).__name__}")
    if not 1 <= channel <= 30:
        raise ValueError(f"RFCOMM channel {channel} out of range 1..30")
    family = getattr(socket, "AF_BLUETOOTH", None)
    protocol = getattr(socket, "BTPROTO_RFCOMM", None)
    if family is None or protocol is None:
        raise OSError(errno.EAFNOSUPPORT, "this Python has no Bluetooth sockets (AF_BLUETOOTH)")
    try:
        sock = socket.socket(family, socket.SOCK_STREAM, protocol)
    except OSError as e:
        raise OSError(
            e.errno,
            f"no Bluetooth on this host: the kernel refuses RFCOMM sockets ({e.strerror}); "
            "is BlueZ's bluetooth module loaded and an adapter present?",
        ) from None
    try:
        sock.settimeout(timeout)
        sock.connect((address, channel))
        sock.settimeout(None)
    except OSError as e:
        sock.close()
        where = f"{address} channel {channel}"
        if isinstance(e, socket.timeout) or e.errno is None:
            raise TimeoutError(errno.ETIMEDOUT, f"{where}: no connection in {timeout} s") from None
        hint = " (no Bluetooth adapter up?)" if e.errno in _NO_BLUETOOTH else ""
        raise OSError(e.errno, f"{where}: {e.strerror}{hint}") from None
    return Peer(sock, segment_size=segment_size, closefd=True)
