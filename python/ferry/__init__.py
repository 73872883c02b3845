"""ferry: both ends of the ferryd relay, on the C library libferry.

Codec is the connection's codec without I/O (messages to serial-line bytes or datagrams and
back); Peer sends and receives messages over a tty, a file or a connected socket;
connect_rfcomm connects to a board over Bluetooth RFCOMM.
"""
from ._lib import library_version
from .codec import Codec, Drop, Message
from .peer import Peer
from .rfcomm import connect_rfcomm

__version__ = "1.0.0"
__all__ = ["Codec", "Drop", "Message", "Peer", "connect_rfcomm", "library_version"]
