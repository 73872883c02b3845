#!/usr/bin/env python3
"""Echo peer: sends every message it receives back, on a tty (/dev/rfcomm0) or over RFCOMM.

    echo_peer.py /dev/rfcomm0 [SEGMENT_SIZE]
    echo_peer.py 00:16:A4:B1:C2:D3 [SEGMENT_SIZE]      (RFCOMM channel 1)
"""
import sys

import ferry

target = sys.argv[1]
size = int(sys.argv[2]) if len(sys.argv) > 2 else None
if target.count(":") == 5:
    peer = ferry.connect_rfcomm(target, 1, segment_size=size)
else:
    peer = ferry.Peer(target, segment_size=size)
print(f"echo peer on {target}", flush=True)
with peer:
    for message in peer:
        peer.send(message)
        print(f"echoed {len(message)} bytes", flush=True)
