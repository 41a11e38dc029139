#!/usr/bin/env python3
"""Draws the pictures of the dialogs and the program icon as PNG files.

Only the standard library: every pixel is sampled 4 x 4 times from a few
simple shapes and written with zlib. Run it from anywhere; the files land
next to this script:  python3 make_images.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # samples per pixel and axis


def write_png(path, width, height, pixels, alpha):
    """pixels: rows of (r, g, b, a) floats 0..1."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((round(r * 255), round(g * 255), round(b * 255)))
            if alpha:
                raw.append(round(a * 255))

    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data
                + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))

    colour_type = 6 if alpha else 2
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def over(dst, src):
    sr, sg, sb, sa = src
    dr, dg, db, da = dst
    a = sa + da * (1 - sa)
    if a <= 0:
        return (0.0, 0.0, 0.0, 0.0)
    mix = lambda s, d: (s * sa + d * da * (1 - sa)) / a
    return (mix(sr, dr), mix(sg, dg), mix(sb, db), a)


def render(width, height, shade):
    """shade(x, y) -> (r, g, b, a) at a point in pixel units."""
    rows = []
    n = SS * SS
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    r, g, b, a = shade(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3] / n
            if a > 0:
                row.append((acc[0] / acc[3], acc[1] / acc[3], acc[2] / acc[3], a))
            else:
                row.append((0.0, 0.0, 0.0, 0.0))
        rows.append(row)
    return rows


def hexc(text, a=1.0):
    return (int(text[0:2], 16) / 255, int(text[2:4], 16) / 255, int(text[4:6], 16) / 255, a)


def lerp(c1, c2, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c1, c2))


def in_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def near_segment(x, y, x1, y1, x2, y2, half_width):
    dx, dy = x2 - x1, y2 - y1
    t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - (x1 + t * dx), y - (y1 + t * dy)) <= half_width


def cylinder(x, y, cx, top, rx, ry, height, body, rim, lid):
    """A database drum: lid ellipse on top of a body; returns a colour or None."""
    if in_ellipse(x, y, cx, top, rx, ry):
        inner = in_ellipse(x, y, cx, top, rx - 1.2, ry - 0.9)
        return lid if inner else rim
    if abs(x - cx) <= rx and top <= y <= top + height or in_ellipse(x, y, cx, top + height, rx, ry):
        # the body shades from left to right, with a seam line per disc
        t = (x - (cx - rx)) / (2 * rx)
        shade = lerp(body, hexc("0b2a4a"), abs(t - 0.35) * 1.2)
        for seam in (height / 3, 2 * height / 3):
            sy = top + seam + ry * math.sqrt(max(0.0, 1 - ((x - cx) / rx) ** 2))
            if abs(y - sy) < 0.9:
                return rim
        return shade
    return None


PULSE = [(0.00, 0.0), (0.30, 0.0), (0.38, -0.9), (0.46, 1.0), (0.54, -0.35), (0.60, 0.0), (1.00, 0.0)]


def pulse_y(t):
    for (t1, v1), (t2, v2) in zip(PULSE, PULSE[1:]):
        if t1 <= t <= t2:
            return v1 + (v2 - v1) * (t - t1) / (t2 - t1)
    return 0.0


def near_pulse(x, y, x0, x1, base, amp, half_width):
    steps = 60
    pts = [(x0 + (x1 - x0) * i / steps, base - amp * pulse_y(i / steps)) for i in range(steps + 1)]
    return any(near_segment(x, y, *pts[i], *pts[i + 1], half_width) for i in range(steps)
               if min(pts[i][0], pts[i + 1][0]) - 2 <= x <= max(pts[i][0], pts[i + 1][0]) + 2)


def database_picture():
    """The side picture of the connection dialog, 126 x 226, no alpha."""
    w, h = 126, 226
    top_col, bottom_col = hexc("1d4f7a"), hexc("0a1c2e")

    def shade(x, y):
        c = lerp(top_col, bottom_col, y / h)
        # soft rings of light behind the drum
        d = math.hypot(x - 63, y - 96)
        glow = max(0.0, 1 - d / 70) ** 2 * 0.35
        c = lerp(c, hexc("5fb3e6"), glow)
        drum = cylinder(x, y, 63, 62, 34, 11, 62, hexc("2f7fc0"), hexc("9fd3f5"), hexc("4a9ad6"))
        if drum is not None:
            c = drum
        if near_pulse(x, y, 10, 116, 170, 18, 1.6):
            c = hexc("7ee0a8")
        # a row of small event marks near the bottom
        for i, col in enumerate(("7ee0a8", "f3d36b", "f08a5d")):
            if in_ellipse(x, y, 42 + 21 * i, 204, 4.5, 4.5):
                c = hexc(col)
        return c

    write_png(os.path.join(HERE, "database.png"), w, h, render(w, h, shade), alpha=False)


def icon(name, size, shapes):
    def shade(x, y):
        c = (0.0, 0.0, 0.0, 0.0)
        for s in shapes:
            col = s(x * 16 / size, y * 16 / size)
            if col is not None:
                c = over(c, col)
        return c

    write_png(os.path.join(HERE, name), size, size, render(size, size, shade), alpha=True)


def computer_icon():
    frame, screen, stand = hexc("34495e"), hexc("6fb7e9"), hexc("7f8c8d")
    return [
        lambda x, y: frame if 1 <= x <= 15 and 2 <= y <= 11.5 else None,
        lambda x, y: screen if 2.3 <= x <= 13.7 and 3.3 <= y <= 10.2 else None,
        lambda x, y: stand if 6.5 <= x <= 9.5 and 11.5 <= y <= 13.5 else None,
        lambda x, y: frame if 4 <= x <= 12 and 13.3 <= y <= 14.8 else None,
    ]


def event_type_icon():
    body, mark = hexc("2e86c1"), hexc("ffffff")
    return [
        lambda x, y: body if in_ellipse(x, y, 8, 8, 7, 7) else None,
        lambda x, y: mark if 7 <= x <= 9 and 3.5 <= y <= 9.5 else None,
        lambda x, y: mark if in_ellipse(x, y, 8, 11.8, 1.2, 1.2) else None,
    ]


def event_level_icon():
    bars = [("7ee0a8", 10.5), ("f3d36b", 7.0), ("f08a5d", 3.5)]
    shapes = []
    for i, (col, top) in enumerate(bars):
        x0 = 1.5 + i * 4.7
        shapes.append(lambda x, y, x0=x0, top=top, col=col:
                      hexc("2c3e50") if x0 <= x <= x0 + 3.8 and top <= y <= 14.5 else None)
        shapes.append(lambda x, y, x0=x0, top=top, col=col:
                      hexc(col) if x0 + 0.8 <= x <= x0 + 3.0 and top + 0.8 <= y <= 13.7 else None)
    return shapes


def program_icon():
    def drum(x, y):
        return cylinder(x, y, 8, 4, 6, 2.2, 8, hexc("2f7fc0"), hexc("0b2a4a"), hexc("9fd3f5"))

    def pulse(x, y):
        return hexc("20c070") if near_pulse(x, y, 0.5, 15.5, 10.5, 3.2, 0.9) else None

    return [drum, pulse]


if __name__ == "__main__":
    database_picture()
    icon("computer.png", 16, computer_icon())
    icon("eventtype.png", 16, event_type_icon())
    icon("eventlevel.png", 16, event_level_icon())
    for size in (16, 32, 64):
        icon("telwick-%d.png" % size, size, program_icon())
