#!/usr/bin/env python3
"""Compares what tshark, with ferryd's dissector, reports for a pcapng that "ferrycat decode
--pcap" wrote with what decode itself reported for the same capture (its -v --json lines).
Usage: tshark_compare.py DISSECTOR PCAPNG DECODE_JSON
Both sides become the same list of events: lines (text, status keyword), frames (length, FCS or
state), segments (id, index, last), drops (counter name), whole messages (id, bytes), skipped
bytes and gaps (whose packet comment must say how many bytes), each with its direction. Exit status 0 when the lists are equal; else the first
difference on standard error. Prints the number of events of each kind compared."""
import collections
import json
import subprocess
import sys

FIELDS = ["ferryd.dir", "ferryd.kind", "ferryd.text", "ferryd.status", "ferryd.frame_length",
          "ferryd.fcs", "ferryd.state", "ferryd.id", "ferryd.index", "ferryd.last", "ferryd.drop",
          "ferryd.message_id", "ferryd.message", "ferryd.skipped", "ferryd.not_recorded",
          "frame.comment"]


def from_tshark(lua, pcap):
    cmd = ["tshark", "-n", "-X", "lua_script:" + lua, "-r", pcap, "-T", "fields",
           "-E", "separator=\t", "-E", "occurrence=a", "-E", "aggregator=|"]
    for field in FIELDS:
        cmd += ["-e", field]
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    events = []
    for row in out.splitlines():
        v = dict(zip(FIELDS, row.split("\t")))
        d, kind = v["ferryd.dir"], v["ferryd.kind"]
        if kind == "2":
            status = v["ferryd.status"]
            name = "command" if d == ">" else ("status" if status else "line")
            events.append((d, name, v["ferryd.text"], status))
        elif kind == "1":
            how = v["ferryd.fcs"] or v["ferryd.state"]
            events.append((d, "frame", int(v["ferryd.frame_length"]), how))
            if v["ferryd.id"]:
                last = "yes" if v["ferryd.last"] in ("1", "True") else "no"
                events.append((d, "segment", int(v["ferryd.id"]), int(v["ferryd.index"]), last))
            for drop in filter(None, v["ferryd.drop"].split("|")):
                events.append((d, "drop", drop))
            if v["ferryd.message_id"]:
                events.append((d, "message", int(v["ferryd.message_id"]),
                               v["ferryd.message"].replace(":", "")))
        elif kind == "3":
            events.append((d, "skipped", int(v["ferryd.skipped"])))
        elif kind == "4":
            n = int(v["ferryd.not_recorded"])
            if v["frame.comment"] != "%d bytes not recorded" % n:
                sys.exit("gap of %d bytes with the comment %r" % (n, v["frame.comment"]))
            events.append((d, "gap", n))
    return events


def from_decode(path):
    events = []
    for line in open(path, encoding="utf-8"):
        e = json.loads(line)
        d, name = e.get("dir"), e["event"]
        if name in ("command", "line"):
            events.append((d, name, e["text"], ""))
        elif name == "status":
            events.append((d, name, e["text"], e["keyword"]))
        elif name == "frame":
            events.append((d, "frame", e["length"], e.get("fcs") or e.get("state")))
        elif name == "segment":
            events.append((d, "segment", e["id"], e["index"], e["last"]))
        elif name == "drop":
            events.append((d, "drop", e["reason"]))
        elif name == "message":
            data = e.get("hex")
            if data is None:
                data = e["text"].encode("utf-8").hex()
            events.append((d, "message", e["id"], data))
        elif name == "skipped":
            events.append((d, "skipped", e["length"]))
        elif name == "gap":
            events.append((d, "gap", e["not-recorded"]))
    return events


def main():
    lua, pcap, decoded = sys.argv[1:4]
    shark, ours = from_tshark(lua, pcap), from_decode(decoded)
    for i, (a, b) in enumerate(zip(shark, ours)):
        if a != b:
            sys.exit("event %d differs:\n  tshark: %s\n  decode: %s" % (i, a, b))
    if len(shark) != len(ours):
        sys.exit("tshark reports %d events, decode %d" % (len(shark), len(ours)))
    kinds = collections.Counter(e[1] for e in ours)
    print("equal: %d events (%s)" % (len(ours), ", ".join(
        "%s %d" % (k, n) for k, n in sorted(kinds.items()))))


main()
