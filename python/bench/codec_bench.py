#!/usr/bin/env python3
"""The codec's speed in MB/s of message payload through libferry's C API and through the Python
package, in one run: 1,000-byte messages encoded one call a message (Python: also queued with
send, the output taken every 60 messages) and decoded (the serial kind
at segments of 256 bytes: the whole stream in one call; the datagram kind at 1024: a call a
datagram), every decoded message compared with the one sent. The C figures come from
ferry_codec_bench (bench/libferry), run from here with the same rounds and messages; each figure
is the median of the rounds, with their range.

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


def send_and_take(kind, size, messages):
    """Seconds to queue every message with send, taking the output as it reaches 64 KiB."""
    codec = ferry.Codec(kind, size)
    send, take = codec.send, codec.data_to_send if kind == "serial" else codec.datagrams_to_send
    start = time.perf_counter()
    for i, m in enumerate(messages):
        send(m)
        if i % 60 == 59:
            take()
    take()
    return time.perf_counter() - start


def one_round(kind, size, messages):
    """(encode, send and take, decode) in MB/s, of one round."""
    sender, receiver = ferry.Codec(kind, size), ferry.Codec(kind)
    encode, receive = sender.encode, receiver.receive_data
    start = time.perf_counter()
    frames = [encode(m) for m in messages]
    encoded = time.perf_counter() - start
    sent = send_and_take(kind, size, messages)
    line = b"".join(frames)
    units = [line] if kind == "serial" else datagrams(line)
    start = time.perf_counter()
    events = [e for unit in units for e in receive(unit)]
    decoded = time.perf_counter() - start
    if [e.data for e in events] != messages:
        sys.exit(f"codec_bench: {kind}: the messages did not come back")
    mb = len(messages) * SIZE / 1e6
    return mb / encoded, mb / sent, mb / decoded


def python_figures(rounds, count):
    rng = random.Random(12345)  # random bytes: 3 in 256 are escaped on the serial line
    messages = [rng.randbytes(SIZE) for _ in range(count)]
    figures = {}
    for name, (kind, size) in CASES.items():
        results = [one_round(kind, size, messages) for _ in range(rounds)]
        figures[name] = {work: summary([r[i] for r in results])
                         for i, work in enumerate(("encode", "send", "decode"))}
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
    print("| case | work | C API | Python | Python / C |")
    print("|---|---|---|---|---|")
    # Python's send-and-take row sets the same work against the C API's encoding figure.
    for name in CASES:
        for work, python_work in (("encode", "encode"), ("encode", "send"), ("decode", "decode")):
            cf, pf = c[name][work], py[name][python_work]
            label = "encode (Python: send + take)" if python_work == "send" else work
            print(f"| {name} | {label} | {cf[0]:.0f} [{cf[1]:.0f}-{cf[2]:.0f}] | "
                  f"{pf[0]:.0f} [{pf[1]:.0f}-{pf[2]:.0f}] | {pf[0] / cf[0]:.2f} |")


if __name__ == "__main__":
    main()
