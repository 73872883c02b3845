"""ferry.Peer over connected sockets, pipes and files; connect_rfcomm's errors."""
import os
import socket
import threading

import pytest

import ferry
from conftest import difference, relay_messages


def test_both_ends_over_a_socket_pair_while_the_other_writes():
    a, b = socket.socketpair()
    messages = relay_messages(2, 50, 10000)
    with ferry.Peer(a, segment_size=1021) as left, ferry.Peer(b, segment_size=6) as right:
        # 50 messages are far more than the socket buffers hold: each side writes on its own
        # thread while the other side's reader takes them.
        writer = threading.Thread(target=lambda: [left.send(m) for m in messages])
        writer.start()
        got = [right.receive(timeout=30) for _ in messages]
        writer.join()
        assert got == messages
        right.send(b"back")
        assert left.receive_message(timeout=5) == ferry.Message(0, b"back")
        assert right.counters["sent-messages"] == 1
    a.close()
    b.close()


def test_timeout_end_of_stream_and_closed():
    a, b = socket.socketpair()
    peer = ferry.Peer(a, closefd=True)
    with pytest.raises(TimeoutError):
        peer.receive(timeout=0.1)
    b.sendall(ferry.Codec().encode(b"last") + b"\x7e\x00garbage")
    b.close()
    assert list(peer) == [b"last"]
    with pytest.raises(EOFError):
        peer.receive(timeout=1)
    peer.close()
    assert a.fileno() == -1  # closefd: the Peer closed the socket
    with pytest.raises(ValueError, match="closed"):
        peer.send(b"x")


def test_a_file_object_a_descriptor_and_connected_datagram_sockets():
    read_fd, write_fd = os.pipe()
    with open(write_fd, "wb", buffering=0) as f, ferry.Peer(f) as out, \
            ferry.Peer(read_fd, closefd=True) as into:
        out.send(b"one", id=9)
        assert into.receive_message(timeout=5) == (9, b"one")
        assert into.fileno() == read_fd
    a, b = (socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(2))
    a.bind(("127.0.0.1", 0))
    b.bind(("127.0.0.1", 0))
    a.connect(b.getsockname())
    b.connect(a.getsockname())
    message = relay_messages(5, 1, 3000)[0]
    with ferry.Peer(a, kind="datagram", closefd=True) as left, \
            ferry.Peer(b, kind="datagram", closefd=True) as right:
        left.send(message)
        assert right.receive(timeout=5) == message
        assert right.counters["messages"] == 1


def test_a_tty_path_that_is_missing_or_not_a_tty(tmp_path):
    with pytest.raises(FileNotFoundError, match="missing"):
        ferry.Peer(str(tmp_path / "missing"))
    regular = tmp_path / "file"
    regular.write_bytes(b"")
    with pytest.raises(OSError, match=str(regular)):
        ferry.Peer(regular)
    with pytest.raises(ValueError):
        ferry.Peer(regular, baudrate=12)
    with pytest.raises(TypeError, match="float"):
        ferry.Peer(1.5)


def test_a_send_to_a_closed_socket_fails():
    a, b = socket.socketpair()
    b.close()
    with ferry.Peer(a) as peer, pytest.raises(BrokenPipeError):
        peer.send(b"x", timeout=5)
    a.close()


def test_connect_rfcomm_refuses_bad_addresses_and_says_when_bluetooth_is_missing():
    with pytest.raises(ValueError, match="address"):
        ferry.connect_rfcomm("00:16:A4:B1:C2", 1)
    with pytest.raises(ValueError, match="channel"):
        ferry.connect_rfcomm("00:16:A4:B1:C2:D3", 31)
    try:
        socket.socket(socket.AF_BLUETOOTH, socket.SOCK_STREAM, socket.BTPROTO_RFCOMM).close()
    except (OSError, AttributeError):
        with pytest.raises(OSError, match="Bluetooth"):
            ferry.connect_rfcomm("00:16:A4:B1:C2:D3", 1, timeout=2)
    else:
        pytest.skip("this host has Bluetooth sockets: the no-Bluetooth error cannot show")


def test_a_send_that_times_out_is_queued_and_one_that_cannot_be_is_refused():
    a, b = socket.socketpair()
    messages = relay_messages(4, 400, 10000)
    with ferry.Peer(a) as peer, ferry.Peer(b) as far:
        queued = []
        with pytest.raises(BlockingIOError):  # nobody reads: the buffers fill up
            for m in messages:
                try:
                    peer.send(m, timeout=0.02)
                except TimeoutError:
                    pass  # queued all the same
                queued.append(m)
        got = []
        reader = threading.Thread(target=lambda: got.extend(far.receive(5) for _ in queued))
        reader.start()
        peer.flush(timeout=10)
        reader.join()
        assert difference(got, queued) == ""
        assert peer.send(b"after", timeout=5) == len(queued) % 128
    a.close()
    b.close()
