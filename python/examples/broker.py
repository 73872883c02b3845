#!/usr/bin/env python3
"""A broker on the board: prints each message ferryd relays from the Bluetooth peer and answers
it with the same bytes.

    broker.py [PORT]        (ferryd's zam.broker.port, default 60010)
"""
import socket
import sys

import ferry

port = int(sys.argv[1]) if len(sys.argv) > 1 else 60010
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", port))
print(f"broker on 127.0.0.1:{port}", flush=True)
codec = ferry.Codec("datagram")
while True:
    datagram, daemon = sock.recvfrom(2048)
    for event in codec.receive_data(datagram):
        if isinstance(event, ferry.Message):
            print(f"{len(event.data)} bytes: {event.data[:32]!r}", flush=True)
            codec.send(event.data)
        else:
            print(f"dropped ({event.reason})", flush=True)
    for answer in codec.datagrams_to_send():
        sock.sendto(answer, daemon)
