#!/usr/bin/env python3
"""Draws data/vantrel.svg's three shapes into data/windows/vantrel.ico.

The Windows build carries the program's icon as a resource, and neither the
build machine nor CI has an SVG renderer: the shapes are few and simple, so
they are drawn here (4x4 samples a pixel) into 32-bit icon images.
Run it again when the SVG changes: python3 tools/make_icon.py
"""
import math
import pathlib
import struct

BLUE = (0x2F, 0x6D, 0xB5)
PAPER = (0xF4, 0xF7, 0xFB)


def in_round_rect(x, y, left, top, size, radius):
    cx = min(max(x, left + radius), left + size - radius)
    cy = min(max(y, top + radius), top + size - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_polygon(x, y, points):
    inside = False
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def near_segment(x, y, a, b, half):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - ax - t * dx, y - ay - t * dy) <= half


# The folder: M12 22h14l4 5h22v21a4 4 0 0 1-4 4H16a4 4 0 0 1-4-4z, its two
# rounded corners taken as cut corners (invisible at icon sizes).
FOLDER = [(12, 22), (26, 22), (30, 27), (52, 27), (52, 48), (51, 51), (48, 52), (16, 52), (13, 51), (12, 48)]
CHEVRON = [((22, 30), (32, 46)), ((32, 46), (42, 30))]


def colour_at(x, y):
    """The colour and cover of one sample, in the SVG's 64-unit space."""
    if not in_round_rect(x, y, 4, 4, 56, 10):
        return None
    if any(near_segment(x, y, a, b, 2.5) for a, b in CHEVRON):
        return BLUE
    if in_polygon(x, y, FOLDER):
        return PAPER
    return BLUE


def image(size):
    samples = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) * 64 / size
                    y = (py + (sy + 0.5) / samples) * 64 / size
                    c = colour_at(x, y)
                    if c:
                        covered += 1
                        r, g, b = r + c[0], g + c[1], b + c[2]
            alpha = covered * 255 // (samples * samples)
            row.append((b // covered, g // covered, r // covered, alpha) if covered else (0, 0, 0, 0))
        rows.append(row)
    # A bitmap's rows go bottom up; the AND mask is all zero (alpha rules).
    pixels = b"".join(bytes(p) for row in reversed(rows) for p in row)
    mask = bytes(((size + 31) // 32) * 4 * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def main():
    sizes = [16, 24, 32, 48, 64]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    target = pathlib.Path(__file__).resolve().parent.parent / "data" / "windows" / "vantrel.ico"
    target.write_bytes(out)
    print(f"{target}: {len(out)} bytes")


if __name__ == "__main__":
    main()
