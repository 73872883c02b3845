#!/usr/bin/env python3
"""The codec's speed in MB/s of message payload through libferry's C API and through the Python
package, in one run: 1,000-byte messages encoded one call a message and queued with send (the
output taken every 60 messages), and decoded (the serial kind at segments of 256 bytes: the
whole stream in one call; the datagram kind at 1024: the datagrams as a socket gives them, one
bytes object each), every decoded message compared with the one sent. For the datagram kind
Python's output and input go both a datagram a library call (as the package did before 1.1) and
in bulk (datagrams_to_send, receive_datagrams). The C figures come from ferry_codec_bench
(bench/libferry: encode a call a message, decode a call a datagram), run from here with the same
rounds and messages; each figure is the median of the rounds, with their range.

    python3 python/bench/codec_bench.py [--c-bench PATH] [--rounds N] [--messages N]

FERRY_LIBRARY names the library to load (default: build/normal's, else the installed one).
"""
import argparse
import json
import os
import random
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.join(os.path.dirname(os.path.dirname(HERE)), "build", "normal")
SIZE = 1000
CASES = {"serial-256": ("serial", 256), "datagram-1024": ("datagram", 1024)}

if "FERRY_LIBRARY" not in os.environ and os.path.exists(f"{BUILD}/libferry/libferry.so.1"):
    os.environ["FERRY_LIBRARY"] = f"{BUILD}/libferry/libferry.so.1"
sys.path.insert(0, os.path.dirname(HERE))
import ferry  # noqa: E402


def datagrams(line):
    """The datagram kind's encoded segments, cut apart by their length fields."""
    at, out = 0, []
    while at < len(line):
        end = at + 5 + (line[at + 3] | line[at + 4] << 8)
        out.append(line[at:end])
        at = end
    return out


def take_one_by_one(codec):
    """The datagram kind's output a datagram a library call (what datagrams_to_send did in 1.0)."""
    while codec.data_to_send():
        pass


def send_and_take(kind, size, messages, take):
    """Seconds to queue every message with send, taking the output as it reaches 64 KiB."""
    codec = ferry.Codec(kind, size)
    send = codec.send
    start = time.perf_counter()
    for i, m in enumerate(messages):
        send(m)
        if i % 60 == 59:
            take(codec)
    take(codec)
    return time.perf_counter() - start


def timed_decode(kind, units, messages, receive):
    """Seconds for receive(units) on a new codec, its messages checked."""
    receiver = ferry.Codec(kind)
    call = getattr(receiver, receive)
    start = time.perf_counter()
    if receive == "receive_data" and kind == "datagram":
        events = [e for unit in units for e in call(unit)]
    else:
        events = call(units)
    seconds = time.perf_counter() - start
    if [e.data for e in events] != messages:
        sys.exit(f"codec_bench: {kind}: the messages did not come back")
    return seconds


# Python's ways of doing each case's work: (row label, C API figure it is set against).
WORKS = {
    "serial": [("encode, a call a message", "encode"),
               ("send + data_to_send", "encode"),
               ("decode, receive_data (the whole stream)", "decode")],
    "datagram": [("encode, a call a message", "encode"),
                 ("send + data_to_send a datagram a call", "encode"),
                 ("send + datagrams_to_send", "encode"),
                 ("decode, receive_data a datagram a call", "decode"),
                 ("decode, receive_datagrams (all at once)", "decode")],
}


def one_round(kind, size, messages):
    """Every work of WORKS[kind] in MB/s, of one round."""
    encode = ferry.Codec(kind, size).encode
    start = time.perf_counter()
    frames = [encode(m) for m in messages]
    seconds = [time.perf_counter() - start]
    line = b"".join(frames)
    if kind == "serial":
        seconds.append(send_and_take(kind, size, messages, ferry.Codec.data_to_send))
        seconds.append(timed_decode(kind, line, messages, "receive_data"))
    else:
        # The receiver gets the datagrams as a socket gives them: a bytes object each.
        units = datagrams(line)
        seconds.append(send_and_take(kind, size, messages, take_one_by_one))
        seconds.append(send_and_take(kind, size, messages, ferry.Codec.datagrams_to_send))
        seconds.append(timed_decode(kind, units, messages, "receive_data"))
        seconds.append(timed_decode(kind, units, messages, "receive_datagrams"))
    mb = len(messages) * SIZE / 1e6
    return [mb / t for t in seconds]


def python_figures(rounds, count):
    rng = random.Random(12345)  # random bytes: 3 in 256 are escaped on the serial line
    messages = [rng.randbytes(SIZE) for _ in range(count)]
    figures = {}
    for name, (kind, size) in CASES.items():
        results = [one_round(kind, size, messages) for _ in range(rounds)]
        figures[name] = [summary([r[i] for r in results]) for i in range(len(WORKS[kind]))]
    return figures


def summary(values):
    return [statistics.median(values), min(values), max(values)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--c-bench", default=f"{BUILD}/bench/libferry/ferry_codec_bench")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--messages", type=int, default=5000)
    a = parser.parse_args()
    if not os.access(a.c_bench, os.X_OK):
        sys.exit(f"codec_bench: {a.c_bench} is not built (cmake --build build/normal "
                 "--target ferry_codec_bench) or give --c-bench")
    c = json.loads(subprocess.run([a.c_bench, "--json", str(a.rounds), str(a.messages)],
                                  check=True, capture_output=True, text=True).stdout)
    py = python_figures(a.rounds, a.messages)
    print(f"libferry {ferry.library_version}: MB/s of payload, {SIZE}-byte messages, median "
          f"[range] of {a.rounds} rounds of {a.messages}\n")
    print("| case | Python's work | C API | Python | Python / C |")
    print("|---|---|---|---|---|")
    for name, (kind, _) in CASES.items():
        for (label, c_work), pf in zip(WORKS[kind], py[name]):
            cf = c[name][c_work]
            print(f"| {name} | {label} | {c_work} {cf[0]:.0f} [{cf[1]:.0f}-{cf[2]:.0f}] | "
                  f"{pf[0]:.0f} [{pf[1]:.0f}-{pf[2]:.0f}] | {pf[0] / cf[0]:.2f} |")


if __name__ == "__main__":
    main()
