#!/usr/bin/env python3
"""Draws Korvelin's pictures into data/ using only the Python standard library.

    python3 scripts/make_artwork.py [OUTPUT_DIR]      (default: data/ beside this script)

Writes:
  splash.png        400 x 240  splash screen (name, version, tag line)
  picscreen.png     320 x 232  idle picture behind the moving logo
  korvelin.png       32 x 32   window icon
  korvelin-256.png  256 x 256  large window icon
  icon.bmp           55 x 58   picture of the download dialog (24-bit BMP)
  kvl-arrow-down.png, kvl-arrow-down-off.png   10 x 7   drop-down arrows of the skin

Everything is drawn from signed distances with analytic edge coverage, so shapes and the
stroke lettering come out smooth without a font or an imaging library. The output is the same
on every run.
"""
import math
import os
import struct
import sys
import zlib

VERSION_TEXT = "Version 2.6.1"

# The palette shared with the skin (data/kvl.skn).
HEADER_TOP = (0x34, 0x46, 0x5E)
HEADER_BOTTOM = (0x1E, 0x2A, 0x3C)
ACCENT = (0x2F, 0x6F, 0xD6)
ACCENT_DARK = (0x1F, 0x4F, 0xA6)
ACCENT_LIGHT = (0x8F, 0xB6, 0xF2)
WHITE = (0xFF, 0xFF, 0xFF)
MUTED = (0xA9, 0xB6, 0xC8)


class Canvas:
    """RGBA picture with float channels; drawing blends with coverage in 0..1."""

    def __init__(self, width, height, colour=(0, 0, 0), alpha=1.0):
        self.w, self.h = width, height
        self.px = [[colour[0], colour[1], colour[2], alpha] for _ in range(width * height)]

    def blend(self, x, y, colour, cover):
        if cover <= 0.0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        cover = min(cover, 1.0)
        p = self.px[y * self.w + x]
        a = p[3]
        out_a = cover + a * (1.0 - cover)
        if out_a <= 0.0:
            return
        for c in range(3):
            p[c] = (colour[c] * cover + p[c] * a * (1.0 - cover)) / out_a
        p[3] = out_a

    def fill_sdf(self, sdf, box, colour, opacity=1.0):
        """Fills the shape whose signed distance (negative inside) is sdf(x, y)."""
        x0, y0, x1, y1 = box
        for y in range(max(0, int(y0) - 1), min(self.h, int(y1) + 2)):
            for x in range(max(0, int(x0) - 1), min(self.w, int(x1) + 2)):
                d = sdf(x + 0.5, y + 0.5)
                if d < 0.5:
                    self.blend(x, y, colour, min(1.0, 0.5 - d) * opacity)

    def gradient(self, top, bottom, box=None):
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        for y in range(y0, y1):
            t = (y - y0) / max(1, y1 - y0 - 1)
            c = tuple(top[i] + (bottom[i] - top[i]) * t for i in range(3))
            for x in range(x0, x1):
                self.px[y * self.w + x][:3] = list(c)

    def rows(self):
        for y in range(self.h):
            yield self.px[y * self.w:(y + 1) * self.w]


def write_png(canvas, path):
    raw = bytearray()
    for row in canvas.rows():
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((clamp8(r), clamp8(g), clamp8(b), clamp8(a * 255)))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", canvas.w, canvas.h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_bmp(canvas, path):
    """24-bit bottom-up BMP; transparency is flattened onto white."""
    stride = (canvas.w * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(list(canvas.rows())):
        line = bytearray()
        for r, g, b, a in row:
            line += bytes((clamp8(b * a + 255 * (1 - a)), clamp8(g * a + 255 * (1 - a)), clamp8(r * a + 255 * (1 - a))))
        line += b"\0" * (stride - len(line))
        pixels += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, canvas.w, canvas.h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def clamp8(v):
    return max(0, min(255, int(round(v))))


# ---- Signed distance functions (negative inside).

def sd_round_rect(x0, y0, x1, y1, r):
    cx, cy, hx, hy = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return f


def sd_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def sd_segment(ax, ay, bx, by, half_width):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy or 1e-9

    def f(x, y):
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) - half_width
    return f


def sd_convex(points):
    """Convex polygon, points in clockwise screen order."""
    n = len(points)

    def f(x, y):
        best_out, inside_max = 0.0, -1e9
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            ex, ey = bx - ax, by - ay
            length = math.hypot(ex, ey) or 1e-9
            side = ((x - ax) * ey - (y - ay) * ex) / length  # > 0 outside for clockwise order
            inside_max = max(inside_max, side)
            if side > 0:
                t = max(0.0, min(1.0, ((x - ax) * ex + (y - ay) * ey) / (length * length)))
                best_out = max(best_out, math.hypot(x - ax - t * ex, y - ay - t * ey))
        return best_out if inside_max > 0 else inside_max
    return f


def box_of(points, pad=0.0):
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    return (min(xs) - pad, min(ys) - pad, max(xs) + pad, max(ys) + pad)


# ---- Stroke lettering: glyphs are polylines in units (baseline y = 0, x-height 5, caps 7, y up).

def arc(cx, cy, rx, ry, a0, a1, steps=None):
    steps = steps or max(6, int(abs(a1 - a0) / 10))
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy + ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


def _s_lower():
    top = arc(2.1, 3.75, 2.0, 1.25, 20, 270)
    bottom = arc(2.1, 1.25, 2.1, 1.25, 90, -160)
    return [top + bottom]


GLYPHS = {
    # letter: (advance, [polyline, ...])
    "K": (5.6, [[(0, 0), (0, 7)], [(4.6, 7), (0, 2.4)], [(1.6, 4.1), (4.8, 0)]]),
    "V": (6.0, [[(0, 7), (2.6, 0), (5.2, 7)]]),
    "a": (5.9, [arc(2.35, 2.5, 2.35, 2.5, 0, 360), [(4.7, 5), (4.7, 0)]]),
    "c": (5.2, [arc(2.5, 2.5, 2.5, 2.5, 42, 318)]),
    "d": (5.9, [arc(2.35, 2.5, 2.35, 2.5, 0, 360), [(4.7, 7.4), (4.7, 0)]]),
    "e": (5.7, [[(0.1, 2.55), (5.0, 2.55)] + arc(2.55, 2.5, 2.45, 2.5, 0, 318)[1:]]),
    "f": (3.4, [[(0.9, 0), (0.9, 5.6)] + arc(2.45, 5.6, 1.55, 1.6, 180, 40)[1:], [(0, 5), (3.0, 5)]]),
    "i": (1.9, [[(0, 0), (0, 5)], [(0, 6.75), (0, 6.8)]]),
    "l": (1.9, [[(0, 0), (0, 7.4)]]),
    "m": (8.4, [[(0, 0), (0, 5)], [(0, 3.1)] + arc(1.75, 3.2, 1.75, 1.8, 180, 0)[1:] + [(3.5, 0)],
                [(3.5, 3.2)] + arc(5.25, 3.2, 1.75, 1.8, 180, 0)[1:] + [(7.0, 0)]]),
    "n": (5.9, [[(0, 0), (0, 5)], [(0, 2.8)] + arc(2.35, 2.8, 2.35, 2.2, 180, 0)[1:] + [(4.7, 0)]]),
    "o": (6.0, [arc(2.55, 2.5, 2.55, 2.5, 0, 360)]),
    "p": (6.0, [[(0, 5), (0, -2.3)], arc(2.45, 2.5, 2.45, 2.5, 0, 360)]),
    "r": (3.7, [[(0, 0), (0, 5)], [(0, 2.6)] + arc(2.5, 2.6, 2.5, 2.4, 180, 70)[1:]]),
    "s": (4.8, _s_lower()),
    "t": (3.6, [[(1.0, 6.6), (1.0, 1.3)] + arc(2.45, 1.3, 1.45, 1.3, 180, 290)[1:], [(0, 5), (3.1, 5)]]),
    "u": (5.9, [[(0, 5), (0, 2.2)] + arc(2.35, 2.2, 2.35, 2.2, 180, 360)[1:], [(4.7, 5), (4.7, 0)]]),
    "v": (5.2, [[(0, 5), (2.4, 0), (4.8, 5)]]),
    "1": (4.0, [[(0.4, 5.6), (2.2, 7), (2.2, 0)]]),
    "2": (5.2, [arc(2.4, 4.9, 2.3, 2.1, 160, -20) + [(0.1, 0), (4.9, 0)]]),
    "6": (5.4, [arc(2.5, 2.3, 2.4, 2.3, 0, 360), [(0.15, 2.6), (3.4, 7)]]),
    ".": (2.2, [[(0.2, 0.05), (0.2, 0.1)]]),
    "·": (3.2, [[(1.0, 2.6), (1.0, 2.65)]]),
    " ": (2.6, []),
}


def text_width(text, scale, tracking=0.6):
    return sum((GLYPHS[ch][0] + tracking) * scale for ch in text) - tracking * scale


def draw_text(canvas, text, x, baseline, scale, weight, colour, tracking=0.6, opacity=1.0, slant=0.0):
    """Draws text with round-capped strokes `weight` pixels wide; x is the left edge."""
    half = weight / 2
    cover = {}
    pen = x
    for ch in text:
        advance, strokes = GLYPHS[ch]
        for line in strokes:
            pts = [(pen + half + (ux + uy * slant) * scale, baseline - uy * scale) for ux, uy in line]
            for (ax, ay), (bx, by) in zip(pts, pts[1:]):
                f = sd_segment(ax, ay, bx, by, half)
                for py in range(int(min(ay, by) - half - 1), int(max(ay, by) + half + 2)):
                    for px in range(int(min(ax, bx) - half - 1), int(max(ax, bx) + half + 2)):
                        c = 0.5 - f(px + 0.5, py + 0.5)
                        if c > 0 and c > cover.get((px, py), 0.0):
                            cover[(px, py)] = min(1.0, c)
        pen += (advance + tracking) * scale
    for (px, py), c in cover.items():
        canvas.blend(px, py, colour, c * opacity)


# ---- Motifs.

def draw_mark(canvas, x0, y0, size):
    """The product mark: a rounded square with a play triangle above a timeline strip whose
    range between two markers is lit, which is what the program does: pick a piece of a video."""
    s = size
    radius = s * 0.22
    # Body with a vertical gradient, drawn row by row through the rounded-rect coverage.
    body = sd_round_rect(x0, y0, x0 + s, y0 + s, radius)
    for y in range(int(y0), int(y0 + s) + 1):
        t = (y - y0) / s
        colour = tuple(ACCENT[i] + (ACCENT_DARK[i] - ACCENT[i]) * t for i in range(3))
        for x in range(int(x0), int(x0 + s) + 1):
            d = body(x + 0.5, y + 0.5)
            if d < 0.5:
                canvas.blend(x, y, colour, min(1.0, 0.5 - d))
    # Play triangle.
    tri = [(x0 + s * 0.36, y0 + s * 0.17), (x0 + s * 0.72, y0 + s * 0.39), (x0 + s * 0.36, y0 + s * 0.61)]
    canvas.fill_sdf(sd_convex([tri[0], tri[1], tri[2]]), box_of(tri), WHITE)
    # Timeline strip with the lit range and two markers.
    ty = y0 + s * 0.78
    strip = max(1.0, s * 0.045)
    canvas.fill_sdf(sd_segment(x0 + s * 0.16, ty, x0 + s * 0.84, ty, strip),
                    (x0 + s * 0.1, ty - 3 - strip, x0 + s * 0.9, ty + 3 + strip), (0x9F, 0xBE, 0xEE))
    canvas.fill_sdf(sd_segment(x0 + s * 0.34, ty, x0 + s * 0.66, ty, strip * 1.15),
                    (x0 + s * 0.3, ty - 4 - strip * 2, x0 + s * 0.7, ty + 4 + strip * 2), WHITE)
    half_w = max(0.75, s * 0.032)
    for mx in (0.34, 0.66):
        cx = x0 + s * mx
        canvas.fill_sdf(sd_round_rect(cx - half_w, ty - s * 0.11, cx + half_w, ty + s * 0.11, half_w * 0.8),
                        (cx - half_w - 2, ty - s * 0.13, cx + half_w + 2, ty + s * 0.13), WHITE)


def draw_filmstrip(canvas, y0, height, colour, opacity, hole_colour, offset=0):
    """A horizontal film strip across the picture with perforations along both edges."""
    for y in range(y0, y0 + height):
        for x in range(canvas.w):
            canvas.blend(x, y, colour, opacity)
    hole_w, hole_h, pitch = max(3, height // 7), max(2, height // 10), max(8, height // 3)
    for edge in (y0 + height * 0.1, y0 + height * 0.9 - hole_h):
        x = offset
        while x < canvas.w:
            canvas.fill_sdf(sd_round_rect(x, edge, x + hole_w, edge + hole_h, 1.0),
                            (x, edge, x + hole_w, edge + hole_h), hole_colour, opacity * 1.4)
            x += pitch
    frame_h = height * 0.56
    fy = y0 + height * 0.22
    x = offset + 4
    while x < canvas.w:
        canvas.fill_sdf(sd_round_rect(x, fy, x + frame_h * 1.45, fy + frame_h, 2.0),
                        (x, fy, x + frame_h * 1.45, fy + frame_h), hole_colour, opacity * 0.9)
        x += frame_h * 1.45 + 6


def draw_timeline(canvas, x0, x1, y, lit0, lit1, opacity=1.0):
    """The program's own marker strip: a groove, the lit range and two thumbs."""
    canvas.fill_sdf(sd_round_rect(x0, y - 3, x1, y + 3, 3), (x0, y - 4, x1, y + 4), (0x50, 0x62, 0x7C), opacity)
    canvas.fill_sdf(sd_round_rect(lit0, y - 3, lit1, y + 3, 3), (lit0, y - 4, lit1, y + 4), ACCENT, opacity)
    for mx in (lit0, lit1):
        canvas.fill_sdf(sd_round_rect(mx - 5, y - 8, mx + 5, y + 8, 3), (mx - 6, y - 9, mx + 6, y + 9),
                        ACCENT_LIGHT, opacity)
        canvas.fill_sdf(sd_round_rect(mx - 1, y - 4, mx + 1, y + 4, 1), (mx - 2, y - 5, mx + 2, y + 5),
                        ACCENT_DARK, opacity)


def vignette(canvas, strength):
    cx, cy = canvas.w / 2, canvas.h / 2
    reach = math.hypot(cx, cy)
    for y in range(canvas.h):
        for x in range(canvas.w):
            d = math.hypot(x - cx, y - cy) / reach
            canvas.blend(x, y, (0, 0, 0), strength * d * d)


# ---- The pictures.

def splash():
    c = Canvas(400, 240)
    c.gradient(HEADER_TOP, HEADER_BOTTOM)
    # A soft light from the upper left.
    for y in range(c.h):
        for x in range(c.w):
            d = math.hypot(x - 80, y - 40) / 260
            c.blend(x, y, (0x5A, 0x7C, 0xB0), max(0.0, 0.22 * (1 - d)))
    draw_filmstrip(c, 168, 44, (0x0E, 0x15, 0x20), 0.55, (0x3A, 0x4C, 0x66), offset=6)
    draw_timeline(c, 40, 360, 150, 132, 262)
    draw_mark(c, 36, 44, 64)
    draw_text(c, "Korvelin", 116, 92, 5.6, 4.6, WHITE, tracking=0.9)
    draw_text(c, "cut · split · save frames", 118, 118, 1.75, 1.5, ACCENT_LIGHT, tracking=0.8)
    version_w = text_width(VERSION_TEXT, 1.55, 0.7)
    draw_text(c, VERSION_TEXT, 400 - 14 - version_w - 2, 228, 1.55, 1.3, MUTED, tracking=0.7)
    # A thin accent rule along the top edge ties the splash to the window's header band.
    for x in range(c.w):
        for y in range(3):
            c.blend(x, y, ACCENT, 1.0)
    return c


def picscreen():
    c = Canvas(320, 232)
    c.gradient(HEADER_TOP, HEADER_BOTTOM)
    for y in range(c.h):
        for x in range(c.w):
            d = math.hypot(x - 160, y - 120) / 200
            c.blend(x, y, (0x4A, 0x66, 0x92), max(0.0, 0.25 * (1 - d)))
    # The moving logo runs across the top 30 pixels; keep that band calm and dark.
    draw_filmstrip(c, 142, 54, (0x0E, 0x15, 0x20), 0.45, (0x42, 0x56, 0x72), offset=2)
    # A faint play mark in the middle of the frame area.
    tri = [(148, 68), (184, 90), (148, 112)]
    c.fill_sdf(sd_circle(161, 90, 32), (127, 56, 195, 124), (0xFF, 0xFF, 0xFF), 0.10)
    c.fill_sdf(sd_convex(tri), box_of(tri), (0xFF, 0xFF, 0xFF), 0.55)
    vignette(c, 0.35)
    return c


def icon(size):
    c = Canvas(size, size, alpha=0.0)
    pad = max(1, round(size * 0.03))
    draw_mark(c, pad, pad, size - 2 * pad)
    return c


def wizard_image():
    c = Canvas(55, 58, WHITE)
    draw_mark(c, 4, 5, 47)
    return c


def chevron(colour):
    """The down arrow the skin puts on drop-down lists."""
    c = Canvas(10, 7, alpha=0.0)
    pts = [(1.6, 1.8), (5.0, 5.0), (8.4, 1.8)]
    for (ax, ay), (bx, by) in zip(pts, pts[1:]):
        c.fill_sdf(sd_segment(ax, ay, bx, by, 0.8), box_of([(ax, ay), (bx, by)], 1.5), colour)
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
    os.makedirs(out, exist_ok=True)
    write_png(splash(), os.path.join(out, "splash.png"))
    write_png(picscreen(), os.path.join(out, "picscreen.png"))
    write_png(icon(32), os.path.join(out, "korvelin.png"))
    write_png(icon(256), os.path.join(out, "korvelin-256.png"))
    write_bmp(wizard_image(), os.path.join(out, "icon.bmp"))
    write_png(chevron(ACCENT_DARK), os.path.join(out, "kvl-arrow-down.png"))
    write_png(chevron((0x9B, 0xA6, 0xB4)), os.path.join(out, "kvl-arrow-down-off.png"))


if __name__ == "__main__":
    main()
