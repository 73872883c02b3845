#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/: a handful of small inputs per fuzz target,
in the field layouts the targets read (see the comments at the top of each fuzz/fuzz_*.cpp).
Run from the repository root after changing a layout; the files are checked in. Other files in
the corpus folders are inputs that once failed a target, kept as they were found."""
import os
import struct


def crc_x25(data, crc=0xFFFF):
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc


def escape(data):
    out = bytearray()
    for b in data:
        if b in (0x7E, 0x7D, 0x41):
            out += bytes([0x7D, b ^ 0x20])
        else:
            out.append(b)
    return bytes(out)


def frame(payload):
    fcs = ~crc_x25(payload) & 0xFFFF
    return b"\x7e" + escape(payload + struct.pack("<H", fcs)) + b"\x7e"


def segment(msg_id, index, last, payload):
    return bytes([(msg_id & 0x7F) | (0x80 if last else 0)]) + struct.pack("<HH", index, len(payload)) + payload


def u16(n):
    return struct.pack("<H", n)


def write(target, name, data):
    folder = os.path.join("fuzz", "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def hdlc_seeds():
    ok = segment(3, 0, True, b"OK A~")
    write("hdlc", "worked-example", frame(ok) + frame(segment(3, 0, False, b"OK ")) +
          frame(segment(3, 1, True, b"A~")))
    write("hdlc", "escape-text", frame(b"AT-AB BondOk\n\x7d\x7e") + b"AT-AB")
    # An aborted frame, a frame with a bad FCS, a one-byte frame, flags in a row, a good frame.
    bad = bytearray(frame(b"hello"))
    bad[2] ^= 1
    write("hdlc", "drops", b"\x7e\x01\x02\x7d\x7e" + bytes(bad) + b"\x7e\x55\x7e\x7e\x7e" + frame(b"x"))
    # Steps: no garbage, no reset, an odd kind with bytes, one encoding in the middle; then a
    # 1024-byte and a 1025-byte pattern payload.
    steps = b"\x00\x01" + b"\x01" + u16(5) + b"AT-AB" + b"\x01" + u16(4)
    steps += b"\x03\x7e\x7d" + b"\x01" + b"\x02" + u16(1024) + u16(3) + b"A\x7e\x7d" + b"\x00"
    steps += b"\x00\x01" + b"\x02" + u16(1025) + u16(1) + b"\x7e" + b"\x00"
    write("hdlc", "round-trips", steps)


def seg_unit(kind, msg_id=None, index_choice=0, index=0, last=True, payload=b"", fill=None):
    out = bytes([kind])
    if kind % 2 == 0:
        out += bytes([msg_id])
    out += bytes([index_choice])
    if index_choice == 1:
        out += u16(index)
    out += bytes([1 if last else 0])
    if kind >= 6:
        return out + u16(len(payload) if fill is None else fill[0]) + bytes([0 if fill is None else fill[1]])
    return out + u16(len(payload)) + payload


def segments_seeds():
    write("segments", "one-segment", seg_unit(2, 5, payload=b"hello"))
    three = seg_unit(2, 7, last=False, payload=b"first ") + seg_unit(3, index_choice=2, last=False, payload=b"second ")
    three += seg_unit(3, index_choice=2, payload=b"third")
    write("segments", "three-segments", three)
    raw = segment(3, 0, False, b"OK ") + segment(3, 1, True, b"A~")
    write("segments", "raw-units", b"\x00" + u16(8) + raw[:8] + b"\x00" + u16(7) + raw[8:] +
          b"\x00" + u16(3) + b"\x83\x00\x00")
    # Exactly 65,535 bytes in two segments, then one byte too many.
    big = seg_unit(6, 9, last=False, fill=(40000, 0x41)) + seg_unit(7, index_choice=2, fill=(25535, 0x7E))
    big += seg_unit(6, 10, last=False, fill=(40000, 0x00)) + seg_unit(7, index_choice=2, fill=(25536, 0x01))
    write("segments", "size-limit", big)
    # A lost start, a wrong id, an index out of order, a cut unit, an empty message.
    odd = seg_unit(2, 1, index_choice=1, index=4, payload=b"tail") + seg_unit(2, 2, last=False, payload=b"a")
    odd += seg_unit(2, 3, index_choice=1, index=1, payload=b"b") + seg_unit(2, 2, index_choice=1, index=3, payload=b"c")
    odd += seg_unit(5, 4, payload=b"cut") + seg_unit(2, 6, payload=b"")
    write("segments", "drops", odd)


def rd(data):
    return b"\x00" + u16(len(data)) + data


def modem_seeds():
    write("modem", "status-lines", rd(b"AT-AB BondOk\r\nAT-AB BDAddress 0123456789ab\r\n") +
          rd(b"AT-AB -CommandMode-\r\nAT-AB\r\n\r\nOK AT-AB BondOk\n") + rd(b"AT-AB Bo") + rd(b"n\rdOk\n"))
    f = frame(segment(3, 0, True, b"OK A~"))
    write("modem", "bypass-in-one-read", rd(b"AT-AB -BypassMode-\r\n" + f + f[:6] + b"AT-AB ConnectionDown\r\n") +
          rd(b"AT-AB -BypassMode-\r\n" + f[:9]) + rd(f[9:] + b"AT-AB -BypassMode-\r\n" + f))
    write("modem", "escape-after-a", rd(b"AT-AB -BypassMode-\r\nxAAT-AT-AB ConnectionDown\r\n") +
          rd(b"AT-AB -BypassMode-\r\nAT-A") + rd(b"B BondOk\r\n"))
    write("modem", "commands", b"\x05\x04" + rd(b"AT-AB BondOk\r\nAT-AB BondEnabled\r\n") + b"\x07" +
          b"\x05\x01" + rd(b"AT-AB LocalNameOkay\r\n") + b"\x07" + b"\x05\x03" +
          rd(b"AT-AB InquiryScanUpdateDo\r\n") + b"\x07\x06" + rd(b"AT-AB -BypassMode-\r\n"))
    write("modem", "config", b"\x05\x00" + rd(b"AT-AB BuildVersion=1.2.3.4.5.6.7.8.9\r\n") + b"\x07" +
          rd(b"AT-AB BD_ADDR=0123456789abcdef\r\nAT-AB DeviceName=Bramblefox\r\n") + b"\x07" +
          rd(b"AT-AB PIN=0000\r\n") + b"\x07")
    write("modem", "long-line", b"\x04" + u16(1500) + b"x" + rd(b"\nAT-AB BondOk\n") +
          b"\x05\x06" + b"\x04" + u16(1100) + b"y" + rd(b"\n"))
    write("modem", "send-between", rd(b"AT-AB -BypassMode-\r\n" + f[:7]) + b"\x08\x05AT-AB" + rd(f[7:]) +
          rd(b"AT-AB ConnectionDown\r\n"))


def pieces(data, size, width=1):
    out = b""
    for i in range(0, len(data), size):
        chunk = data[i:i + size]
        out += (bytes([len(chunk)]) if width == 1 else u16(len(chunk))) + chunk
    return out


def libferry_seeds():
    msg = frame(segment(3, 0, False, b"AT-AB ~}")) + frame(segment(3, 1, True, b"A" * 40))
    write("libferry", "serial-pieces", b"\x00\x00" + pieces(b"noise" + msg + b"\x7e\x01\x7d\x7e", 7))
    write("libferry", "serial-drops", b"\x00\x01" + pieces(frame(b"\x01\x02") + b"\x7e" + b"\x11" * 1030 +
                                                       frame(segment(1, 2, True, b"x")), 200))
    grams = [segment(1, 0, False, b"ab"), segment(2, 0, True, b"cd"), b"", b"\x01\x02\x03",
             segment(6, 0, False, b"a"), segment(6, 2, True, b"c")]
    write("libferry", "datagrams", b"\x01\x00" + b"".join(u16(len(g)) + g for g in grams))


if __name__ == "__main__":
    hdlc_seeds()
    segments_seeds()
    modem_seeds()
    libferry_seeds()
