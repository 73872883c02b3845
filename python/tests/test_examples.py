"""The Python examples against the real ferryd on the simulated board."""
import subprocess

import ferry
from conftest import example, relay_messages

MESSAGES = [b"hello", b"AT-AB in the middle", b"\x7e\x7d\x41" * 100, b""] + relay_messages(3, 6)


def test_echo_peer_sends_each_message_from_ferrycat_broker_back(board, cat_broker):
    peer = subprocess.Popen(example("echo_peer.py") + [board.air], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT)
    try:
        assert peer.stdout.readline().startswith(b"echo peer on"), "the echo peer did not start"
        broker = cat_broker(board.config, len(MESSAGES))
        broker.send(MESSAGES)
        broker.close_input()
        assert broker.wait(60) == 0, broker.err()
        assert broker.received == MESSAGES
    finally:
        peer.terminate()
        output = peer.communicate(timeout=30)[0].decode()
    assert output.count("echoed") == len(MESSAGES), output


def test_broker_answers_the_python_peer(board):
    broker = subprocess.Popen(example("broker.py") + [str(board.port)], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
    try:
        assert broker.stdout.readline().startswith(b"broker on"), "the broker did not start"
        with ferry.Peer(board.air) as peer:
            for m in MESSAGES:
                peer.send(m)
                assert peer.receive(timeout=30) == m
    finally:
        broker.terminate()
        output = broker.communicate(timeout=30)[0].decode()
    assert "19 bytes: b'AT-AB in the middle'" in output, output
