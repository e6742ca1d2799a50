#!/usr/bin/env python3
"""Draws the program's icon (a database with a gear: database setup) into an .ico file with
PNG images of 16, 24, 32, 48, 64 and 256 pixels, and PNG files of the same sizes.

Usage: draw-icon.py OUTDIR   (writes OUTDIR/dbsetup.ico and OUTDIR/dbsetup-SIZE.png)
Plain Python: the build machine needs no image tools."""
import math
import os
import struct
import sys
import zlib

SIZE = 256
SAMPLES = 3  # supersampling per axis: smooth edges


def gear_radius(angle, teeth=8, outer=60.0, inner=46.0):
    # Trapezoid teeth: the tooth's top covers 35% of its period, the flanks 15% each.
    t = (angle * teeth / (2 * math.pi)) % 1.0
    if t < 0.35:
        return outer
    if t < 0.5:
        return outer - (outer - inner) * (t - 0.35) / 0.15
    if t < 0.85:
        return inner
    return inner + (outer - inner) * (t - 0.85) / 0.15


def colour_at(x, y):
    """RGBA of the drawing at point (x, y) of the 256-pixel square; None where transparent."""
    colour = None
    cx, rx, ry = 112.0, 84.0, 28.0
    top, bottom = 52.0, 196.0

    def in_ellipse(ey):
        return ((x - cx) / rx) ** 2 + ((y - ey) / ry) ** 2 <= 1.0

    # The cylinder: body, the two seams, the lid.
    if (abs(x - cx) <= rx and top <= y <= bottom) or in_ellipse(bottom):
        shade = 0.75 + 0.25 * math.cos((x - cx) / rx * 1.2)
        colour = (int(40 * shade), int(100 * shade), int(180 * shade), 255)
        for seam in (100.0, 148.0):
            d = ((x - cx) / rx) ** 2 + ((y - seam) / ry) ** 2
            if y > seam and 1.0 <= d <= 1.12 and abs(x - cx) < rx:
                colour = (22, 60, 120, 255)
    if in_ellipse(top):
        colour = (120, 170, 230, 255)
        if ((x - cx) / rx) ** 2 + ((y - top) / ry) ** 2 >= 0.88:
            colour = (60, 115, 195, 255)
    # The gear over the cylinder's lower right corner, with a hole.
    gx, gy = 188.0, 188.0
    r = math.hypot(x - gx, y - gy)
    edge = gear_radius(math.atan2(y - gy, x - gx))
    if 20.0 <= r <= edge:
        colour = (235, 150, 30, 255) if r <= edge - 5.0 and r >= 25.0 else (150, 85, 10, 255)
    return colour


def render(size):
    """Pixels (rows of RGBA tuples) of the drawing scaled to size, by averaging samples."""
    scale = SIZE / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px + (sx + 0.5) / SAMPLES) * scale,
                                  (py + (sy + 0.5) / SAMPLES) * scale)
                    if c:
                        a = c[3]
                        acc[0] += c[0] * a
                        acc[1] += c[1] * a
                        acc[2] += c[2] * a
                        acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if acc[3]:
                row.append(tuple(int(round(v / acc[3])) for v in acc[:3]) + (int(round(alpha)),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def png(rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        side = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    return header + entries + data


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    images = []
    for size in (16, 24, 32, 48, 64, 256):
        image = png(render(size))
        images.append((size, image))
        with open(os.path.join(out, f"dbsetup-{size}.png"), "wb") as f:
            f.write(image)
    with open(os.path.join(out, "dbsetup.ico"), "wb") as f:
        f.write(ico(images))


if __name__ == "__main__":
    main()
