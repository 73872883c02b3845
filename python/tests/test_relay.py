"""The Python peer and ferrycat broker through the real ferryd on the simulated board: 1,000
messages each way at once, every message whole, once and in order."""
import threading
import time

import pytest

import ferry
from conftest import difference, relay_messages

COUNT = 1000
# Messages the peer may have ahead of the broker's output. The daemon sends north as fast as
# the serial line delivers and UDP has no flow control: a real line's speed paces it, the
# pseudo-terminal does not, so the test does what the line would.
WINDOW = 32


@pytest.mark.parametrize("daemon_size,peer_size", [(256, 1021), (1021, 256)])
def test_both_ways_at_once(board_factory, cat_broker, daemon_size, peer_size):
    board = board_factory(daemon_size)
    south, north = relay_messages(10, COUNT), relay_messages(11, COUNT)
    with ferry.Peer(board.air, segment_size=peer_size) as receiver:
        # One Peer a thread: the sending one shares the receiving one's tty.
        sender = ferry.Peer(receiver.fileno(), segment_size=peer_size)
        broker = cat_broker(board.config, COUNT)
        start = time.monotonic()
        failures = []

        def send_north():
            try:
                for i, m in enumerate(north):
                    stalled = time.monotonic() + 60
                    while len(broker.received) + WINDOW < i and time.monotonic() < stalled:
                        time.sleep(0.001)
                    sender.send(m, timeout=60)
            except Exception as e:  # reported by the main thread
                failures.append(e)

        threads = [threading.Thread(target=send_north),
                   threading.Thread(target=lambda: (broker.send(south), broker.close_input()))]
        for t in threads:
            t.start()
        got = []
        try:
            while len(got) < COUNT:
                got.append(receiver.receive(timeout=60))
        except TimeoutError:
            pass
        for t in threads:
            t.join(120)
        status = broker.wait(120)
        print(f"{COUNT} messages each way ({sum(map(len, south))} and {sum(map(len, north))} "
              f"bytes; daemon segments {daemon_size}, Python peer segments {peer_size}) in "
              f"{time.monotonic() - start:.1f} s")
        sender.close()
        peer_counters = receiver.counters
    assert not failures
    assert difference(got, south) == "", peer_counters
    assert difference(broker.received, north) == "", broker.err()
    assert status == 0, broker.err()
    assert f"sent messages={COUNT}" in broker.err()
    assert sum(v for k, v in peer_counters.items() if "messages" not in k and k != "bytes") == 0
    assert board.running()
