#!/usr/bin/env python3
"""Draws the bundled sample picture (a lake below mountains at sunset) and
writes it as an 8-bit RGB PNG. Standard library only; deterministic."""
import math
import struct
import sys
import zlib

W, H = 1200, 800


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def ridge(x, seed, scale):
    # A sum of sines that looks like a mountain crest.
    v = 0.0
    amp = 1.0
    f = 1.0
    for k in range(6):
        v += amp * math.sin(x * f * 0.006 * scale + seed * (k + 1) * 1.7 + k * 0.9)
        amp *= 0.5
        f *= 2.07
    return v


HORIZON = int(H * 0.58)
SUN = (W * 0.68, H * 0.36, 46.0)
SKY_TOP = (32, 48, 110)
SKY_MID = (214, 120, 120)
SKY_LOW = (250, 196, 120)
RANGES = [  # base height, amplitude, seed, scale, colour
    (HORIZON - 150, 70, 1.3, 0.8, (122, 96, 140)),
    (HORIZON - 90, 60, 2.9, 1.3, (86, 70, 112)),
    (HORIZON - 35, 40, 4.1, 2.1, (46, 52, 78)),
]


def sky(x, y):
    t = y / HORIZON
    c = mix(SKY_TOP, SKY_MID, t / 0.7) if t < 0.7 else mix(SKY_MID, SKY_LOW, (t - 0.7) / 0.3)
    dx, dy = x - SUN[0], y - SUN[1]
    d = math.sqrt(dx * dx + dy * dy)
    if d < SUN[2]:
        return (255, 238, 200)
    glow = math.exp(-(d - SUN[2]) / 120.0) * 0.8
    c = mix(c, (255, 220, 170), glow)
    # Soft streaks of cloud lit from below.
    cl = math.sin(x * 0.0045 + y * 0.013) * math.sin(x * 0.011 - y * 0.005 + 1.0) + 0.35 * math.sin(x * 0.023 + y * 0.04)
    if cl > 0.55 and y < HORIZON - 120:
        c = mix(c, (255, 178, 150), min(1.0, (cl - 0.55) * 1.6) * (0.35 + 0.6 * t))
    return c


def land(x, y):
    # The nearest range that covers the point, else the sky.
    for base, amp, seed, scale, col in reversed(RANGES):
        top = base - amp * (0.5 + 0.5 * ridge(x, seed, scale))
        if y >= top:
            # Slopes facing the sun are lit, the others in shade.
            slope = ridge(x + 2.0, seed, scale) - ridge(x - 2.0, seed, scale)
            shade = max(0.7, min(1.25, 1.0 + slope * 2.5))
            haze = (y - top) / max(1.0, HORIZON - top)
            return mix(tuple(v * shade for v in col), (60, 50, 80), haze * 0.35)
    return sky(x, y)


def pixel(x, y):
    if y < HORIZON:
        return land(x, y)
    # The lake mirrors what lies above the horizon, broken by ripples.
    depth = (y - HORIZON) / (H - HORIZON)
    shore = 0.80 + 0.04 * math.sin(x * 0.01) + 0.02 * math.sin(x * 0.037)
    if depth > shore:
        g = 0.5 + 0.5 * math.sin(x * 0.21 + math.sin(y * 0.17 + x * 0.01) * 3.0)
        u = (depth - shore) / (1.0 - shore)
        return mix(mix((52, 64, 40), (96, 120, 58), u), (120, 150, 70), g * 0.3 * u)
    ripple = math.sin(y * 0.9 + math.sin(x * 0.02) * 4.0) * 6.0 * (0.3 + depth)
    my = 2 * HORIZON - y
    c = land(min(W - 1.0, max(0.0, x + ripple)), max(0.0, my))
    return mix(c, (30, 40, 80), 0.25 + 0.45 * depth)


def main(path):
    raw = bytearray()
    prev = bytearray(W * 3)
    for y in range(H):
        row = bytearray()
        for x in range(W):
            r, g, b = pixel(float(x), float(y))
            row += bytes((max(0, min(255, int(r))), max(0, min(255, int(g))), max(0, min(255, int(b)))))
        # Paeth filter.
        out = bytearray(len(row))
        for i in range(len(row)):
            a = row[i - 3] if i >= 3 else 0
            b = prev[i]
            c = prev[i - 3] if i >= 3 else 0
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            out[i] = (row[i] - pred) & 255
        raw += b"\x04" + out
        prev = row

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sample.png")
