#!/usr/bin/env python3
"""The codec's speed in MB/s of message payload, through libferry's C API and through the Python
package, in one run: 1,000-byte messages encoded (one call a message, and send with the output
taken) and decoded (the serial stream in 4 KB pieces, as a tty read gives them), at the serial
line's default segment size. The C figures come from ferry-codec-bench, run from here.

    python3 python/bench/codec_bench.py [--c-bench PATH] [--messages N] [--rounds N]

FERRY_LIBRARY names the library to load (default: build/normal's, else the installed one).
"""
import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.join(ROOT, "build", "normal")
SIZE = 1000
READ = 4096
SEGMENT = 256

if "FERRY_LIBRARY" not in os.environ and os.path.exists(f"{BUILD}/libferry/libferry.so.1"):
    os.environ["FERRY_LIBRARY"] = f"{BUILD}/libferry/libferry.so.1"
sys.path.insert(0, os.path.dirname(HERE))
import ferry  # noqa: E402


def message(i):
    """Message i: byte j is (i * 131 + j * 7) mod 256, the C half's rule."""
    return bytes((i * 131 + j * 7) & 0xFF for j in range(SIZE))


def encode(messages):
    codec = ferry.Codec("serial", SEGMENT)
    encode = codec.encode
    start = time.perf_counter()
    frames = [encode(m) for m in messages]
    return time.perf_counter() - start, b"".join(frames)


def send_and_take(messages):
    codec = ferry.Codec("serial", SEGMENT)
    send, take = codec.send, codec.data_to_send
    start = time.perf_counter()
    for m in messages:
        send(m)
        take()
    return time.perf_counter() - start


def decode(stream, count):
    codec = ferry.Codec("serial", SEGMENT)
    receive = codec.receive_data
    pieces = [stream[at : at + READ] for at in range(0, len(stream), READ)]
    start = time.perf_counter()
    messages = 0
    for piece in pieces:
        messages += len(receive(piece))
    took = time.perf_counter() - start
    if messages != count:
        sys.exit(f"codec_bench: {messages} messages decoded of {count}")
    return took


def python_figures(count, rounds):
    messages = [message(i) for i in range(count)]
    best = [float("inf")] * 3
    for _ in range(rounds):  # the best round: the least disturbed by other work
        took, stream = encode(messages)
        times = [took, send_and_take(messages), decode(stream, count)]
        best = [min(b, t) for b, t in zip(best, times)]
    mb = count * SIZE / 1e6
    return {name: mb / t for name, t in zip(("encode", "send", "decode"), best)}


def c_figures(program, count, rounds):
    out = subprocess.run([program, str(count), str(SEGMENT), str(rounds)], check=True,
                         capture_output=True, text=True).stdout
    return {name: float(value) for name, value in (line.split() for line in out.splitlines())}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--c-bench", default=f"{BUILD}/bench/codec/ferry-codec-bench")
    parser.add_argument("--messages", type=int, default=20000)
    parser.add_argument("--rounds", type=int, default=5)
    a = parser.parse_args()
    if not os.access(a.c_bench, os.X_OK):
        sys.exit(f"codec_bench: {a.c_bench} is not built (cmake --build build/normal "
                 "--target ferry-codec-bench) or give --c-bench")
    c = c_figures(a.c_bench, a.messages, a.rounds)
    py = python_figures(a.messages, a.rounds)
    print(f"libferry {ferry.library_version}, {a.messages} messages of {SIZE} bytes, serial "
          f"segments of {SEGMENT} bytes, best of {a.rounds} rounds\n")
    print("| Work | C API MB/s | Python MB/s | Python / C |")
    print("|---|---:|---:|---:|")
    work = {"encode": "encode, one call a message (ferry_codec_encode, Codec.encode)",
            "send": "send and take the output (ferry_codec_send, Codec.send + data_to_send)",
            "decode": "decode 4 KB reads (ferry_codec_decode, Codec.receive_data)"}
    for name, what in work.items():
        print(f"| {what} | {c[name]:.0f} | {py[name]:.0f} | {py[name] / c[name]:.2f} |")


if __name__ == "__main__":
    main()
