#!/usr/bin/env python3
"""Writes the application icon: one .ico holding a 16x16 and a 32x32 image,
16 colours (4 bits per pixel) each, drawn from the shapes below.

usage: make-icon.py OUTPUT.ico
"""
import math
import struct
import sys

# The 16-colour VGA palette, as (blue, green, red, 0) quads.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # (red, green, blue)
NAVY, TEAL, GREY, YELLOW, WHITE = 4, 6, 8, 11, 15


def draw(size):
    """A rounded navy tile with a light frame and a yellow sine wave across
    it: the synthesizer's tone. Returns rows top-down of palette indices and
    of transparency flags."""
    pixels = [[NAVY] * size for _ in range(size)]
    transparent = [[False] * size for _ in range(size)]
    corner = size // 8
    for y in range(size):
        for x in range(size):
            dx = max(corner - x, x - (size - 1 - corner), 0)
            dy = max(corner - y, y - (size - 1 - corner), 0)
            if dx * dx + dy * dy > corner * corner:
                transparent[y][x] = True
                pixels[y][x] = 0
            elif dx * dx + dy * dy > (corner - 1) * (corner - 1) or x in (0, size - 1) or \
                    y in (0, size - 1):
                pixels[y][x] = GREY
    # A grid line under the wave, then the wave itself, one period wide.
    middle = (size - 1) / 2.0
    for x in range(2, size - 2):
        pixels[int(middle + 0.5)][x] = TEAL
    amplitude = size * 0.3
    thickness = 1 if size <= 16 else 2
    previous = None
    for x in range(2, size - 2):
        phase = (x - 2) / float(size - 4) * 2.0 * math.pi
        y = int(round(middle - amplitude * math.sin(phase)))
        lo, hi = (y, y) if previous is None else (min(y, previous), max(y, previous))
        for yy in range(lo, hi + 1):
            for t in range(thickness):
                if 0 < yy + t < size - 1:
                    pixels[yy + t][x] = YELLOW
        previous = y
    # A white highlight in the upper left corner of the frame.
    for i in range(corner + 1, size // 3):
        pixels[1][i] = WHITE
    return pixels, transparent


def image(size):
    pixels, transparent = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor_row = ((size * 4 + 31) // 32) * 4
    and_row = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):  # bottom-up, as a DIB is stored
        row = bytearray(xor_row)
        for x in range(size):
            row[x // 2] |= pixels[y][x] << (4 if x % 2 == 0 else 0)
        xor += row
        bits = bytearray(and_row)
        for x in range(size):
            if transparent[y][x]:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main():
    images = [image(16), image(32)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
