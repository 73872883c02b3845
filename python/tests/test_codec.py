"""The sans-I/O codec through the C library: round trips in pieces, ids, drops and counters,
bounded output, and bad input as Python's own exception types."""
import pytest

import ferry
from conftest import relay_messages


def round_trip(kind, size, messages, piece):
    sender, receiver = ferry.Codec(kind, size), ferry.Codec(kind, size)
    events = []
    for m in messages:
        sender.send(m)
        if kind == "datagram":
            for d in sender.datagrams_to_send():
                assert len(d) <= size
                events += receiver.receive_data(d)
        else:
            stream = sender.data_to_send()
            for at in range(0, len(stream), piece):
                events += receiver.receive_data(stream[at : at + piece])
    return events, receiver


@pytest.mark.parametrize("kind,size,piece", [("serial", 6, 3), ("serial", 256, 1),
                                             ("serial", 1021, 4096), ("datagram", 1024, 0),
                                             ("datagram", 6, 0)])
def test_round_trip_in_pieces(kind, size, piece):
    messages = relay_messages(1, 20, 3000) + [b"", b"AT-AB\x7e\x7d", bytes(65535)]
    events, receiver = round_trip(kind, size, messages, piece)
    assert [e.data for e in events] == messages
    assert [e.id for e in events] == list(range(len(messages)))
    counters = receiver.counters
    assert counters["messages"] == len(messages)
    assert counters["bytes"] == sum(map(len, messages))
    assert sum(counters[name] for name in ("invalid", "bad-fcs", "stale")) == 0


def test_ids_count_round_and_given_ids_are_kept():
    codec = ferry.Codec()
    assert [codec.send(b"x") for _ in range(130)][126:] == [126, 127, 0, 1]
    assert codec.send(b"x", id=77) == 77
    events = ferry.Codec().receive_data(codec.data_to_send())
    assert [e.id for e in events][-3:] == [0, 1, 77]


def test_partial_writes_take_the_output_as_written():
    codec = ferry.Codec()
    codec.send(b"hello A")
    whole = codec.output()
    codec.consume(3)
    assert codec.pending == len(whole) - 3
    assert whole[:3] + codec.data_to_send() == whole
    assert codec.data_to_send() == b""


def test_encode_equals_send_and_knows_the_worked_example():
    codec = ferry.Codec("serial", 10)
    frame = bytes.fromhex("7E 83 00 00 05 00 4F 4B 20 7D 61 7D 5E 44 FE 7E")
    assert codec.encode(b"OK A\x7e", id=3) == frame
    codec.send(b"OK A\x7e", id=3)
    assert codec.data_to_send() == frame


def test_garbage_is_dropped_under_the_daemons_names():
    codec = ferry.Codec()
    good = ferry.Codec().encode(b"after the noise", id=5)
    bad_fcs = bytearray(good)
    bad_fcs[8] ^= 1
    events = codec.receive_data(b"noise\x7e\x7d\x7e" + bytes(bad_fcs) + good)
    assert [e.reason for e in events if isinstance(e, ferry.Drop)] == ["aborted-frame", "bad-fcs"]
    assert events[-1] == ferry.Message(5, b"after the noise")
    counters = codec.counters
    assert counters["aborted-frame"] == 1 and counters["bad-fcs"] == 1
    assert ferry.Codec("datagram").receive_data(b"")[0].reason == "invalid"


def test_untaken_output_is_refused_not_grown():
    codec = ferry.Codec()
    with pytest.raises(BlockingIOError):
        for _ in range(100):
            codec.send(bytes(1000))
    pending = codec.pending
    assert 65536 <= pending < 70000
    with pytest.raises(BlockingIOError):
        codec.send(b"x")
    assert codec.pending == pending
    codec.data_to_send()
    codec.send(b"x")


@pytest.mark.parametrize("call,error,text", [
    (lambda: ferry.Codec("serial", 5), ValueError, "5"),
    (lambda: ferry.Codec("serial", 1022), ValueError, "1022"),
    (lambda: ferry.Codec("datagram", 1025), ValueError, "1025"),
    (lambda: ferry.Codec("udp"), ValueError, "udp"),
    (lambda: ferry.Codec("serial", "256"), TypeError, "str"),
    (lambda: ferry.Codec().send(bytes(65536)), ValueError, "65"),
    (lambda: ferry.Codec().send("text"), TypeError, "str"),
    (lambda: ferry.Codec().send(b"x", id=128), ValueError, "128"),
    (lambda: ferry.Codec().receive_data(None), TypeError, "NoneType"),
])
def test_bad_input_raises_the_matching_type_with_a_message(call, error, text):
    with pytest.raises(error, match=text):
        call()


def test_a_closed_codec_refuses_work_and_nothing_partial_was_queued():
    codec = ferry.Codec()
    with pytest.raises(ValueError):
        codec.send(bytes(65536))
    assert codec.pending == 0
    codec.close()
    with pytest.raises(ValueError, match="closed"):
        codec.send(b"x")
    codec.close()


def test_bytes_like_input():
    codec = ferry.Codec()
    codec.send(bytearray(b"ab"))
    codec.send(memoryview(b"xcd")[1:])
    events = ferry.Codec().receive_data(bytearray(codec.data_to_send()))
    assert [e.data for e in events] == [b"ab", b"cd"]


def test_one_call_with_more_than_one_library_call_takes():
    # More events, and more message bytes, than the package takes from one library call.
    for messages in ([bytes([i % 256]) * 3 for i in range(512)], [bytes(65535)] * 5):
        sender = ferry.Codec("serial", 1021)
        stream = b"".join(sender.encode(m) for m in messages)
        assert [e.data for e in ferry.Codec().receive_data(stream)] == messages


def test_several_datagrams_a_call_give_what_one_a_call_gives():
    sender = ferry.Codec("datagram", 6)  # a message of n bytes takes n datagrams
    messages = [bytes([i]) * 300 for i in range(3)] + [b""]
    for m in messages:
        sender.send(m)
    taken = sender.datagrams_to_send()  # more than one library call takes
    assert len(taken) == 901
    datagrams = taken[:300] + [b"", bytes(1025)] + taken[300:600]
    datagrams += [bytearray(taken[600]), memoryview(taken[601]).cast("H")] + taken[602:]
    one_a_call = ferry.Codec("datagram")
    expected = [e for d in datagrams for e in one_a_call.receive_data(d)]
    assert [e.reason for e in expected if isinstance(e, ferry.Drop)] == ["invalid"] * 2
    assert [e.data for e in expected if isinstance(e, ferry.Message)] == messages
    batched = ferry.Codec("datagram")
    assert batched.receive_datagrams(iter(datagrams)) == expected
    assert batched.counters == one_a_call.counters
    assert batched.receive_datagrams([]) == []


def test_taking_datagrams_in_bulk_takes_them_whole_and_in_order():
    one, bulk = ferry.Codec("datagram"), ferry.Codec("datagram")
    for codec in (one, bulk):
        codec.send(b"", id=9)
        codec.send(bytes(range(256)) * 255 + b"A" * 255)  # 65,860 bytes out: two takes
    singly = []
    while datagram := one.data_to_send():
        singly.append(datagram)
    assert bulk.datagrams_to_send() == singly
    assert bulk.pending == 0 and bulk.datagrams_to_send() == []
    assert ferry.Codec("serial").datagrams_to_send() == []


def test_several_datagrams_a_call_refuse_what_they_cannot_take():
    with pytest.raises(ValueError, match="datagram"):
        ferry.Codec("serial").receive_datagrams([b"x"])
    with pytest.raises(TypeError, match="bytes-like"):
        ferry.Codec("datagram").receive_datagrams([b"x", "text"])


def test_a_message_after_an_empty_one_that_filled_the_buffer_comes_in_the_same_call():
    # 200,000 bytes of messages, an empty one, then one that no longer fits the package's
    # 256 KiB buffer: it must be taken with a further library call, not left for the next read.
    messages = [bytes(50000)] * 4 + [b"", bytes(65535)]
    sender = ferry.Codec("serial", 1021)
    stream = b"".join(sender.encode(m) for m in messages)
    assert [e.data for e in ferry.Codec().receive_data(stream)] == messages
