#!/usr/bin/env python3
"""Writes the seed corpora in corpus/<target>/: small valid inputs of every
kind each target reads, from which the fuzzer mutates. Run it again after
changing it; the files it writes are kept in the repository."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---- command port: frames with a big-endian header and a little-endian record.
def frame(kind, mote, payload=b"", time=0):
    return struct.pack(">HHqH", kind, mote, time, len(payload)) + payload


def vex_msg(addr, kind, data=b""):
    body = struct.pack("<HBBB", addr, kind, 125, len(data)) + data.ljust(96, b"\0")
    return body.ljust(112, b"\0")


def operator(query, code, **f):
    fields = dict(out=-1, in1=-1, in2=-1, predicate=0, field1=255, field2=255, constant=0,
                  constant2=0, constant3=0, numfields=0, name=0, rate=0, start=0,
                  reliability=0, buffer=0, dest=0, sensor=0, sampling=0)
    fields.update(f)
    return struct.pack("<BBbbbBBBBBBBB3xIIBBHBB2x", query, code, fields["out"], fields["in1"],
                       fields["in2"], fields["predicate"], fields["field1"], fields["field2"],
                       fields["constant"], fields["constant2"], fields["constant3"],
                       fields["numfields"], fields["name"], fields["rate"], fields["start"],
                       fields["reliability"], fields["buffer"], fields["dest"],
                       fields["sensor"], fields["sampling"])


QUERY = [
    operator(1, 11, sensor=1, rate=4000, buffer=4, sampling=1),  # sensor stream, index 0
    operator(1, 10, buffer=4),                                    # local stream, index 1
    operator(1, 1, in1=0, out=1, predicate=3, field1=3, constant=0, numfields=4),  # select
    operator(1, 15, in1=1, numfields=4),                          # serial out
    operator(1, 12),                                              # start
]
STOP = operator(1, 13)

write("command_fuzz", "turn_on_off", frame(0x1000, 1) + frame(4097, 1) + frame(0x1000, 1, time=4000))
write("command_fuzz", "settings",
      frame(4100, 0, struct.pack("<HHI", 1, 0, 5000)) + frame(4101, 2, struct.pack("<BBH", 3, 0, 512))
      + frame(4103, 0, struct.pack("<I", 1000)) + frame(4104, 0, struct.pack("<q", 1 << 21))
      + frame(4111, 0, struct.pack("<H", 0xFFFF)))
write("command_fuzz", "variables",
      frame(4105, 1, b"PellundM$open_table".ljust(256, b"\0")) + frame(4107, 1, struct.pack("<IB3x", 0, 16))
      + frame(4109, 0, b"\0"))
write("command_fuzz", "batch", frame(4112, 0) + frame(4102, 0, struct.pack("<I", 7)) + frame(4113, 0))
write("command_fuzz", "query",
      b"".join(frame(4099, 0, vex_msg(addr, 8, m)) for addr in (0, 2) for m in QUERY)
      + frame(4098, 1, vex_msg(1, 9, QUERY[0])) + frame(4099, 0, vex_msg(0, 8, STOP)))
write("command_fuzz", "truncated", frame(4099, 0, vex_msg(0, 8, QUERY[0]))[:40])

# ---- lossy file: entries "sender:receiver:probability" and "sender:receiver probability".
write("lossy_fuzz", "links", b"0:1:0.0\n1:0:0.25\n2:3 0.5\n3:2:1.0\n\t4:5:1e-3 5::0\n")
write("lossy_fuzz", "no_final_newline", b"0:1:0.0\n1:2:0.5")
write("lossy_fuzz", "carriage_return", b"0:1:0.0\r\n1:2:0.5\r\n")
write("lossy_fuzz", "big_ids", b"999:0:0.1\n1000:1:0.2\n99999999999999999999:2:0.3\n")

# ---- debug modes: DBG values.
for i, text in enumerate([b"all", b"boot,am", b"all,-radio", b"", b",,sim,,", b"-error,usr1,bogus",
                          b"none,temp"]):
    write("dbg_fuzz", "modes%d" % i, text)
write("dbg_fuzz", "time", struct.pack("<q", 4000000 * 3661 + 17))

# ---- operator messages: route byte (mote, serial bit, time to pass) + 32 bytes.
def step(mote, message, serial=False, wait=0):
    return bytes([mote | (4 if serial else 0) | (wait << 3)]) + message


write("operator_fuzz", "query_on_mote0", b"".join(step(0, m) for m in QUERY) + step(0, b"\0" * 32, wait=31))
write("operator_fuzz", "query_forwarded",
      b"".join(step(1, m, serial=True, wait=2) for m in QUERY) + step(1, STOP, serial=True, wait=8))
write("operator_fuzz", "start_stop_empty", step(2, operator(5, 12)) + step(2, operator(5, 13)) + step(2, operator(0, 12)))
write("operator_fuzz", "remote",
      step(1, operator(2, 9, name=7, rate=100, buffer=4, dest=0)) + step(1, operator(2, 8, in1=0, out=0, numfields=2))
      + step(0, operator(2, 9, name=7, rate=100, buffer=4, dest=0)) + step(0, operator(2, 12))
      + step(1, operator(2, 12), wait=31) + step(1, operator(2, 13)))
# A selection that reads its own output: every sample would be passed round
# without end (it once overflowed the stack).
SELF_FEEDING = [
    operator(3, 11, sensor=1, rate=4000, buffer=4, sampling=1),  # sensor stream, index 0
    operator(3, 10, buffer=4),                                    # local stream, index 1
    operator(3, 1, in1=0, out=1, predicate=4, field1=0, constant=0, numfields=4),
    operator(3, 1, in1=1, out=1, predicate=4, field1=0, constant=0, numfields=4),
    operator(3, 12),
]
write("operator_fuzz", "self_feeding", b"".join(step(0, m) for m in SELF_FEEDING) + step(0, b"\0" * 32, wait=31))
# Two local streams of one record feeding each other (a -> b -> a) with a
# MIRROR of a: writing round the cycle drops the record a read of a is still
# handing to the MIRROR.
CYCLE = [
    operator(4, 11, sensor=1, rate=4000, buffer=4, sampling=1),  # sensor stream, index 0
    operator(4, 10, buffer=1),                                    # a, index 1
    operator(4, 10, buffer=1),                                    # b, index 2
    operator(4, 10, buffer=8),                                    # mirror copies, index 3
    operator(4, 8, in1=0, out=1, numfields=4),                    # send sensor -> a
    operator(4, 8, in1=1, out=2, numfields=4),                    # send a -> b
    operator(4, 14, in1=1, out=3, numfields=4),                   # mirror a -> copies
    operator(4, 8, in1=2, out=1, numfields=4),                    # send b -> a
    operator(4, 12),
]
write("operator_fuzz", "cycle_with_mirror", b"".join(step(0, m) for m in CYCLE) + step(0, b"\0" * 32, wait=31))
