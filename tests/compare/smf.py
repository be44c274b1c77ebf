"""A Standard MIDI File of one track from timed messages, for the comparisons."""
import struct


def vlq(n):
    out = [n & 0x7F]
    while n > 127:
        n >>= 7
        out.insert(0, 0x80 | (n & 0x7F))
    return bytes(out)


def write(path, events):
    """events: (seconds, message bytes); 120 bpm, 480 ticks a quarter: 960 a second."""
    track, last = b"", 0
    for time, message in sorted(events, key=lambda e: e[0]):
        tick = int(round(time * 960))
        track += vlq(tick - last) + message
        last = tick
    track += vlq(960) + b"\xff\x2f\x00"
    with open(path, "wb") as out:
        out.write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 480) + b"MTrk" +
                  struct.pack(">I", len(track)) + track)
