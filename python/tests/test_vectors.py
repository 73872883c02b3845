"""Replays docs/test-vectors.json through the Python package: what another language's
implementation must do, as the library does it."""
import json
import os

import pytest

import ferry
from conftest import ROOT

with open(os.path.join(ROOT, "docs", "test-vectors.json")) as f:
    VECTORS = json.load(f)


def case_id(case):
    return case["name"]


@pytest.mark.parametrize("case", VECTORS["encode"], ids=case_id)
def test_messages_encode_as_listed_and_decode_back(case):
    message, size, id = bytes.fromhex(case["message"]), case["segment_size"], case["id"]
    segments = [bytes.fromhex(s) for s in case["segments"]]
    # The segments are what the datagram kind sends at the same size.
    cutter = ferry.Codec("datagram", size)
    assert cutter.send(message, id=id) == id
    assert cutter.datagrams_to_send() == segments
    codec = ferry.Codec(case["kind"], size)
    if case["kind"] == "serial":
        stream = bytes.fromhex(case["bytes"])
        assert codec.encode(message, id=id) == stream
        codec.send(message, id=id)
        assert codec.data_to_send() == stream
        units = [stream[at : at + 100] for at in range(0, len(stream), 100)]
    else:
        assert codec.encode(message, id=id) == b"".join(segments)
        units = segments
    receiver = ferry.Codec(case["kind"], size)
    events = [e for unit in units for e in receiver.receive_data(unit)]
    assert events == [ferry.Message(id, message)]


def expected_event(listed):
    if "drop" in listed:
        id = None if listed["id"] < 0 else listed["id"]
        return ferry.Drop(listed["drop"], id, listed["length"])
    return ferry.Message(listed["id"], bytes.fromhex(listed["message"]))


@pytest.mark.parametrize("case", VECTORS["decode"], ids=case_id)
@pytest.mark.parametrize("piece", [1, 1 << 20])
def test_received_data_gives_the_listed_events_and_counters(case, piece):
    codec = ferry.Codec(case["kind"])
    if case["kind"] == "serial":
        data = bytes.fromhex(case["bytes"])
        units = [data[at : at + piece] for at in range(0, len(data), piece)]
    else:
        units = [bytes.fromhex(d) for d in case["datagrams"]]
    events = [e for unit in units for e in codec.receive_data(unit)]
    assert events == [expected_event(e) for e in case["events"]]
    counters = {k: v for k, v in codec.counters.items() if not k.startswith("sent-")}
    assert counters == dict(dict.fromkeys(counters, 0), **case["counters"])


def test_every_drop_reason_but_out_of_memory_has_a_case():
    covered = {case["covers"] for case in VECTORS["decode"]}
    reasons = set(ferry.Codec().counters) - {"messages", "bytes", "sent-messages", "sent-bytes"}
    assert reasons - covered == {"out-of-memory"}
