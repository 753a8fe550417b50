#!/usr/bin/env python3
"""Writes Tolvex.ico, the main window's icon: a screen with a sine on it, in
48, 32, 24 and 16 pixels, each in 256 colours and in 32-bit colour.

    python3 make_icon.py [output]   (default: Tolvex.ico beside this script)
"""
import math
import os
import struct
import sys

FRAME = (40, 40, 40)
SCREEN = (20, 50, 40)
AXIS = (60, 110, 90)
WAVE = (120, 255, 120)


def inside_rounded(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def wave_distance(x, y):
    """Distance from (x, y), in 48-pixel units, to the sine across the screen."""
    best = 1e9
    for i in range(0, 361):
        px = 6 + 36 * i / 360.0
        py = 24 - 14 * math.sin(2 * math.pi * 2 * i / 360.0)
        best = min(best, math.hypot(x - px, y - py))
    return best


def colour_at(x, y, size):
    """Colour and coverage of one sample point in 48-pixel units."""
    if not inside_rounded(x, y, 2, 5, 46, 43, 5):
        return None
    if not inside_rounded(x, y, 4, 7, 44, 41, 3.5):
        return FRAME
    width = 1.6 if size >= 24 else 2.4
    if wave_distance(x, y) <= width:
        return WAVE
    if abs(y - 24) <= 0.5 or abs(x - 24) <= 0.5:
        return AXIS
    return SCREEN


def render(size, samples):
    """Rows of (r, g, b, a), top row first."""
    scale = 48.0 / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * scale
                    y = (py + (sy + 0.5) / samples) * scale
                    c = colour_at(x, y, size)
                    if c is not None:
                        hits += 1
                        for k in range(3):
                            acc[k] += c[k]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                a = round(255 * hits / (samples * samples))
                row.append(tuple(round(acc[k] / hits) for k in range(3)) + (a,))
        rows.append(row)
    return rows


def mask_rows(rows):
    out = b""
    for row in reversed(rows):
        bits = 0
        data = bytearray()
        for i, (_, _, _, a) in enumerate(row):
            bits = (bits << 1) | (1 if a < 128 else 0)
            if i % 8 == 7:
                data.append(bits)
                bits = 0
        if len(row) % 8:
            data.append(bits << (8 - len(row) % 8))
        while len(data) % 4:
            data.append(0)
        out += bytes(data)
    return out


def image_32(size):
    rows = render(size, 4)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    return header + pixels + mask_rows(rows)


def image_8(size):
    rows = render(size, 1)
    palette = [(0, 0, 0), FRAME, SCREEN, AXIS, WAVE]
    palette += [(0, 0, 0)] * (256 - len(palette))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    data = b""
    for row in reversed(rows):
        line = bytearray(palette.index(p[:3]) if p[3] else 0 for p in row)
        while len(line) % 4:
            line.append(0)
        data += bytes(line)
    return header + pal + data + mask_rows(rows)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "Tolvex.ico")
    images = []
    for size in (48, 32, 24, 16):
        images.append((size, 8, image_8(size)))
        images.append((size, 32, image_32(size)))
    offset = 6 + 16 * len(images)
    head = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    for size, bits, data in images:
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    with open(out, "wb") as f:
        f.write(head + entries + b"".join(d for _, _, d in images))


if __name__ == "__main__":
    main()
