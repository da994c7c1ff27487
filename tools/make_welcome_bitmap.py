#!/usr/bin/env python3
"""Draws the wizard's welcome picture: 169 x 264 pixels at 96 DPI, 24-bit BMP.

A friendly round character under a night-to-sea gradient, with a speech
bubble: Orvand talks through its characters.

    make_welcome_bitmap.py OUT.bmp|OUT.pic [SCALE]

draws it SCALE times larger (1 by default): the wizard shrinks a larger source
smoothly to its size at the screen's DPI, which stays sharp where enlarging would blur.
A .pic file is what the program carries: "PIC1", width and height (32-bit little
endian), then the rows top first, 3 bytes a pixel in blue-green-red order, as one
zlib stream; it is a fifth of the bitmap's size.
"""
import math
import struct
import sys
import zlib

WIDTH, HEIGHT = 169, 264
SCALE = 1


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def coverage(distance):
    """Anti-aliased coverage of a pixel from its signed distance to a shape's edge."""
    return max(0.0, min(1.0, 0.5 - distance * SCALE))


def circle(x, y, cx, cy, r):
    return math.hypot(x - cx, y - cy) - r


def ellipse(x, y, cx, cy, rx, ry):
    # Good enough near the edge for the small ellipses used here.
    k = math.hypot((x - cx) / rx, (y - cy) / ry)
    return (k - 1.0) * min(rx, ry)


def rounded_rect(x, y, left, top, right, bottom, radius):
    cx, cy = (left + right) / 2, (top + bottom) / 2
    hx, hy = (right - left) / 2 - radius, (bottom - top) / 2 - radius
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def inside_triangle(x, y, a, b, c):
    def side(p, q):
        return (x - q[0]) * (p[1] - q[1]) - (p[0] - q[0]) * (y - q[1])
    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def triangle_coverage(x, y, a, b, c):
    hits = 0
    for i in range(4):
        for j in range(4):
            if inside_triangle(x + (-0.375 + i * 0.25) / SCALE, y + (-0.375 + j * 0.25) / SCALE, a, b, c):
                hits += 1
    return hits / 16.0


TOP, BOTTOM = (24, 36, 92), (22, 122, 138)
HEAD, HEAD_SHADE = (250, 200, 84), (222, 146, 48)
WHITE, INK = (255, 255, 255), (30, 34, 60)
CHEEK = (244, 128, 110)
BUBBLE_LINE = (180, 200, 230)
STARS = [(18, 20), (40, 44), (150, 16), (12, 92), (154, 104), (30, 150), (140, 160), (70, 14), (100, 30)]
GLOWS = [(30, 60, 26), (140, 120, 34), (50, 200, 30)]


def pixel(x, y):
    t = y / (HEIGHT - 1)
    colour = mix(TOP, BOTTOM, t)
    # Soft round glows behind everything.
    for gx, gy, gr in GLOWS:
        d = math.hypot(x - gx, y - gy) / gr
        if d < 1:
            colour = mix(colour, (90, 170, 210), 0.18 * (1 - d) ** 2)
    for sx, sy in STARS:
        d = math.hypot(x - sx, y - sy)
        if d < 1.6:
            colour = mix(colour, WHITE, 0.85 * (1 - d / 1.6))
    # Waves along the bottom.
    for k, base in enumerate((226, 240, 252)):
        wave = base + 4 * math.sin(x / 13.0 + k * 1.7)
        colour = mix(colour, (120, 210, 220), 0.22 * coverage(wave - y) * (1 if k < 2 else 1.4))

    # The character: a body and a round head with a highlight.
    colour = mix(colour, (70, 110, 190), coverage(ellipse(x, y, 78, 206, 40, 26)))
    colour = mix(colour, (96, 140, 220), coverage(ellipse(x, y, 78, 200, 32, 18)) * 0.6)
    head = coverage(circle(x, y, 78, 146, 42))
    if head > 0:
        shade = max(0.0, min(1.0, (math.hypot(x - 64, y - 128) - 10) / 60))
        colour = mix(colour, mix(HEAD, HEAD_SHADE, shade), head)
    for ex in (62, 94):
        colour = mix(colour, WHITE, coverage(ellipse(x, y, ex, 140, 9, 11)))
        colour = mix(colour, INK, coverage(circle(x, y, ex + 2, 143, 5)))
        colour = mix(colour, WHITE, coverage(circle(x, y, ex + 4, 140, 1.6)))
    for cx in (52, 104):
        colour = mix(colour, CHEEK, 0.55 * coverage(ellipse(x, y, cx, 160, 7, 4)))
    # The smile: the lower part of a ring.
    if y > 158:
        ring = abs(math.hypot(x - 78, y - 152) - 16) - 1.8
        colour = mix(colour, INK, coverage(ring))

    # The speech bubble above, with its tail towards the head, and three dots.
    bubble = coverage(rounded_rect(x, y, 84, 34, 160, 84, 14))
    tail = triangle_coverage(x, y, (100, 80), (122, 80), (96, 104))
    edge = max(coverage(abs(rounded_rect(x, y, 84, 34, 160, 84, 14)) - 1.0), 0.0)
    colour = mix(colour, BUBBLE_LINE, max(edge, 0.0) * (1 - tail))
    colour = mix(colour, WHITE, max(bubble - edge * 0.3, tail))
    for dx in (104, 122, 140):
        colour = mix(colour, (40, 110, 170), coverage(circle(x, y, dx, 59, 5)))
    return colour


def rows_top_first(width, height):
    for y in range(height):
        row = bytearray()
        for x in range(width):
            r, g, b = (int(round(max(0, min(255, c)))) for c in pixel((x + 0.5) / SCALE, (y + 0.5) / SCALE))
            row += bytes((b, g, r))
        yield bytes(row)


def write_picture(path):
    width, height = WIDTH * SCALE, HEIGHT * SCALE
    rows = list(rows_top_first(width, height))
    with open(path, "wb") as out:
        if path.endswith(".pic"):
            out.write(b"PIC1" + struct.pack("<II", width, height) + zlib.compress(b"".join(rows), 9))
            return
        row_size = (width * 3 + 3) & ~3
        data = b"".join(row + b"\0" * (row_size - len(row)) for row in reversed(rows))  # bottom-up
        header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 3780 * SCALE, 3780 * SCALE, 0, 0)
        out.write(header + info + data)


if __name__ == "__main__":
    if len(sys.argv) > 2:
        SCALE = int(sys.argv[2])
    write_picture(sys.argv[1])
