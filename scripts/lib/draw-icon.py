#!/usr/bin/env python3
"""Draws the program's icon (a database with a gear: database setup) into an .ico file with
PNG images of 16, 24, 32, 48, 64 and 256 pixels (src/app/icons/dbsetup.ico, the Windows
program's), PNG files of those sizes and 128, and an SVG file of the same shapes (the Linux
packages' icons, cmake/Packaging.cmake).

Usage: draw-icon.py OUTDIR   (writes OUTDIR/dbsetup.ico, OUTDIR/dbsetup-SIZE.png, OUTDIR/dbsetup.svg)
Plain Python: the build machine needs no image tools."""
import math
import os
import struct
import sys
import zlib

SIZE = 256
SAMPLES = 3  # supersampling per axis: smooth edges
ICO_SIZES = (16, 24, 32, 48, 64, 256)
PNG_SIZES = (16, 24, 32, 48, 64, 128, 256)

# The shapes, in the 256-pixel square: both the pixels and the SVG are drawn from these.
CYLINDER = dict(cx=112.0, rx=84.0, ry=28.0, top=52.0, bottom=196.0)
SEAMS = (100.0, 148.0)
SEAM_WIDTH = 1.12  # a seam is the band 1 <= d <= this, d the ellipse's equation value
LID_RIM = 0.88  # the lid's rim: d >= this
GEAR = dict(cx=188.0, cy=188.0, hole=20.0, rim=5.0)  # rim: the dark border's width
BODY_RGB = (40, 100, 180)
SEAM_RGB = (22, 60, 120)
LID_RGB = (120, 170, 230)
LID_RIM_RGB = (60, 115, 195)
GEAR_RGB = (235, 150, 30)
GEAR_EDGE_RGB = (150, 85, 10)


def body_shade(u):
    """The cylinder's light across its width, u from -1 (left) to 1 (right)."""
    return 0.75 + 0.25 * math.cos(u * 1.2)


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
    cx, rx, ry = CYLINDER["cx"], CYLINDER["rx"], CYLINDER["ry"]
    top, bottom = CYLINDER["top"], CYLINDER["bottom"]

    def in_ellipse(ey):
        return ((x - cx) / rx) ** 2 + ((y - ey) / ry) ** 2 <= 1.0

    # The cylinder: body, the two seams, the lid.
    if (abs(x - cx) <= rx and top <= y <= bottom) or in_ellipse(bottom):
        shade = body_shade((x - cx) / rx)
        colour = tuple(int(v * shade) for v in BODY_RGB) + (255,)
        for seam in SEAMS:
            d = ((x - cx) / rx) ** 2 + ((y - seam) / ry) ** 2
            if y > seam and 1.0 <= d <= SEAM_WIDTH and abs(x - cx) < rx:
                colour = SEAM_RGB + (255,)
    if in_ellipse(top):
        colour = LID_RGB + (255,)
        if ((x - cx) / rx) ** 2 + ((y - top) / ry) ** 2 >= LID_RIM:
            colour = LID_RIM_RGB + (255,)
    # The gear over the cylinder's lower right corner, with a hole.
    gx, gy, hole, rim = GEAR["cx"], GEAR["cy"], GEAR["hole"], GEAR["rim"]
    r = math.hypot(x - gx, y - gy)
    edge = gear_radius(math.atan2(y - gy, x - gx))
    if hole <= r <= edge:
        bright = hole + rim <= r <= edge - rim
        colour = (GEAR_RGB if bright else GEAR_EDGE_RGB) + (255,)
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


def svg_number(v):
    return f"{v:.2f}".rstrip("0").rstrip(".")


def svg_rgb(rgb):
    return "#%02x%02x%02x" % rgb


def svg_ellipse_path(cx, cy, rx, ry):
    """A whole ellipse as a path of two arcs (for combining with evenodd)."""
    n = svg_number
    return (f"M{n(cx - rx)},{n(cy)} A{n(rx)},{n(ry)} 0 1,0 {n(cx + rx)},{n(cy)} "
            f"A{n(rx)},{n(ry)} 0 1,0 {n(cx - rx)},{n(cy)} Z")


def svg_gear_path(cx, cy, shrink):
    """The gear's outline, gear_radius less shrink: arcs for the teeth's tops and the gaps, the
    flanks (radius linear in the angle) in short straight steps."""
    n = svg_number
    teeth = 8
    period = 2 * math.pi / teeth

    def point(angle):
        r = gear_radius(angle) - shrink
        return cx + r * math.cos(angle), cy + r * math.sin(angle)

    parts = []
    for tooth in range(teeth):
        a0 = tooth * period
        # One period: top (0..0.35), falling flank, gap (0.5..0.85), rising flank.
        for start, end, radius in ((0.0, 0.35, 60.0), (0.5, 0.85, 46.0)):
            x0, y0 = point(a0 + start * period + 1e-9)
            x1, y1 = point(a0 + end * period - 1e-9)
            r = radius - shrink
            parts.append(f"{'M' if not parts else 'L'}{n(x0)},{n(y0)}")
            parts.append(f"A{n(r)},{n(r)} 0 0,1 {n(x1)},{n(y1)}")
            flank_end = 0.5 if start == 0.0 else 1.0
            for i in range(1, 5):
                t = end + (flank_end - end) * i / 4
                x, y = point(a0 + t * period - (1e-9 if i == 4 else 0.0))
                parts.append(f"L{n(x)},{n(y)}")
    return " ".join(parts) + " Z"


def svg():
    """The same shapes as colour_at, as an SVG document of 256 by 256 units."""
    n = svg_number
    cx, rx, ry = CYLINDER["cx"], CYLINDER["rx"], CYLINDER["ry"]
    top, bottom = CYLINDER["top"], CYLINDER["bottom"]
    stops = []
    for i in range(21):
        u = -1.0 + i / 10
        rgb = tuple(int(v * body_shade(u)) for v in BODY_RGB)
        stops.append(f'<stop offset="{n(i / 20)}" stop-color="{svg_rgb(rgb)}"/>')
    body = (f"M{n(cx - rx)},{n(top)} H{n(cx + rx)} V{n(bottom)} "
            f"A{n(rx)},{n(ry)} 0 0,1 {n(cx - rx)},{n(bottom)} Z")
    wide = math.sqrt(SEAM_WIDTH)
    seams = []
    for i, seam in enumerate(SEAMS):
        seams.append(
            f'<clipPath id="seam{i}"><rect x="{n(cx - rx)}" y="{n(seam)}" width="{n(2 * rx)}" '
            f'height="{n(ry * wide)}"/></clipPath>')
    seam_paths = "".join(
        f'<path clip-path="url(#seam{i})" fill-rule="evenodd" fill="{svg_rgb(SEAM_RGB)}" '
        f'd="{svg_ellipse_path(cx, seam, rx * wide, ry * wide)} '
        f'{svg_ellipse_path(cx, seam, rx, ry)}"/>' for i, seam in enumerate(SEAMS))
    rim = math.sqrt(LID_RIM)
    gx, gy, hole, gear_rim = GEAR["cx"], GEAR["cy"], GEAR["hole"], GEAR["rim"]
    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<!-- Drawn by scripts/lib/draw-icon.py: a database with a gear (database setup). -->',
        '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">',
        "<defs>",
        f'<linearGradient id="body" gradientUnits="userSpaceOnUse" x1="{n(cx - rx)}" y1="0" '
        f'x2="{n(cx + rx)}" y2="0">' + "".join(stops) + "</linearGradient>",
        *seams,
        "</defs>",
        f'<path fill="url(#body)" d="{body}"/>',
        seam_paths,
        f'<ellipse cx="{n(cx)}" cy="{n(top)}" rx="{n(rx)}" ry="{n(ry)}" '
        f'fill="{svg_rgb(LID_RIM_RGB)}"/>',
        f'<ellipse cx="{n(cx)}" cy="{n(top)}" rx="{n(rx * rim)}" ry="{n(ry * rim)}" '
        f'fill="{svg_rgb(LID_RGB)}"/>',
        f'<path fill-rule="evenodd" fill="{svg_rgb(GEAR_EDGE_RGB)}" '
        f'd="{svg_gear_path(gx, gy, 0.0)} {svg_ellipse_path(gx, gy, hole, hole)}"/>',
        f'<path fill-rule="evenodd" fill="{svg_rgb(GEAR_RGB)}" '
        f'd="{svg_gear_path(gx, gy, gear_rim)} '
        f'{svg_ellipse_path(gx, gy, hole + gear_rim, hole + gear_rim)}"/>',
        "</svg>",
    ]
    return "\n".join(lines) + "\n"


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    images = []
    for size in PNG_SIZES:
        image = png(render(size))
        if size in ICO_SIZES:
            images.append((size, image))
        with open(os.path.join(out, f"dbsetup-{size}.png"), "wb") as f:
            f.write(image)
    with open(os.path.join(out, "dbsetup.ico"), "wb") as f:
        f.write(ico(images))
    with open(os.path.join(out, "dbsetup.svg"), "w", encoding="utf-8") as f:
        f.write(svg())


if __name__ == "__main__":
    main()
