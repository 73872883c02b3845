"""Fixtures: the real ferryd on the simulated board (ferryd-board), ferrycat's broker end, and
the test messages.

The programs come from the build: FERRYD_BOARD and FERRYCAT name them (CTest sets both, with
FERRY_LIBRARY for the library), else build/normal of the source tree is looked in.
"""
import json
import os
import random
import re
import select
import signal
import socket
import subprocess
import sys
import threading
import time

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PYTHON_DIR = os.path.join(ROOT, "python")
BUILD = os.path.join(ROOT, "build", "normal")


def program(variable, relative):
    path = os.environ.get(variable) or os.path.join(BUILD, relative)
    if not os.access(path, os.X_OK):
        pytest.skip(f"{path} is not built (or set {variable})")
    return path


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Board:
    """ferryd-board: the daemon on the simulated board with the Bluetooth link connected."""

    def __init__(self, segsize):
        self.port = free_udp_port()
        self.process = subprocess.Popen(
            [program("FERRYD_BOARD", "bench/board/ferryd-board"), "--port", str(self.port),
             "--segsize", str(segsize), "--speed", "20"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.output = ""
        self._read_until("Ctrl-C ends the board.", 120)
        self.config = re.search(r"configuration\s+(\S+)", self.output).group(1)
        self.air = re.search(r"air side tty\s+(\S+)", self.output).group(1)

    def _read_until(self, text, seconds):
        end = time.monotonic() + seconds
        fd = self.process.stdout.fileno()
        while text not in self.output:
            left = end - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise AssertionError(f"ferryd-board did not say '{text}':\n{self.output}")
            chunk = os.read(fd, 4096)
            if not chunk:
                raise AssertionError(f"ferryd-board ended:\n{self.output}")
            self.output += chunk.decode(errors="replace")

    def running(self):
        return self.process.poll() is None

    def stop(self):
        if self.running():
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


@pytest.fixture
def board_factory():
    boards = []

    def make(segsize=256):
        board = Board(segsize)
        boards.append(board)
        return board

    yield make
    for board in boards:
        board.stop()


@pytest.fixture
def board(board_factory):
    return board_factory()


class CatBroker:
    """ferrycat broker on the board's configuration: hex lines in, one JSON object a message out,
    read on a thread of its own."""

    def __init__(self, config, count, tmp_path):
        self.err_path = tmp_path / "broker.err"
        with open(self.err_path, "wb") as err:
            self.process = subprocess.Popen(
                [program("FERRYCAT", "ferrycat/ferrycat"), "broker", "-c", config, "-x", "-o",
                 "json", "-n", str(count), "-t", "60"],
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=err)
        self.received = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.received.append(payload(json.loads(line)))

    def err(self):
        return self.err_path.read_text(errors="replace")

    def wait_for_stderr(self, text, seconds):
        end = time.monotonic() + seconds
        while text not in self.err():
            if time.monotonic() > end or self.process.poll() is not None:
                return False
            time.sleep(0.05)
        return True

    def send(self, messages):
        for m in messages:
            self.process.stdin.write(m.hex().encode() + b"\n")
        self.process.stdin.flush()

    def close_input(self):
        self.process.stdin.close()

    def wait(self, seconds):
        status = self.process.wait(seconds)
        self.reader.join(seconds)
        return status


def payload(record):
    """A message's bytes from a line of ferrycat's JSON output."""
    if "hex" in record:
        return bytes.fromhex(record["hex"])
    return record["text"].encode()


@pytest.fixture
def cat_broker(tmp_path):
    brokers = []

    def make(config, count):
        broker = CatBroker(config, count, tmp_path)
        assert broker.wait_for_stderr("ferryd is connected", 30), broker.err()
        brokers.append(broker)
        return broker

    yield make
    for broker in brokers:
        if broker.process.poll() is None:
            broker.process.kill()
            broker.process.wait()


def relay_messages(seed, count, max_size=10000):
    """count messages of 1 to max_size random bytes with "AT-AB", flag and escape bytes inside."""
    rng = random.Random(seed)
    specials = [b"AT-AB", b"\x7e", b"\x7d", b"A"]
    out = []
    for _ in range(count):
        size = rng.randint(1, max_size)
        parts, length = [], 0
        while length < size:
            part = rng.choice(specials) if rng.random() < 0.1 else rng.randbytes(rng.randint(1, 40))
            parts.append(part)
            length += len(part)
        out.append(b"".join(parts)[:size])
    return out


def example(name):
    """The command line of one of python/examples."""
    return [sys.executable, os.path.join(PYTHON_DIR, "examples", name)]


def difference(got, expected):
    """"" when got equals expected, else where they part (without printing megabytes)."""
    for i, (g, e) in enumerate(zip(got, expected)):
        if g != e:
            return f"message {i}: {len(g)} bytes received, {len(e)} sent"
    if len(got) != len(expected):
        return f"{len(got)} messages received, {len(expected)} sent"
    return ""
