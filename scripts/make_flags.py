#!/usr/bin/env python3
"""Draws the small flag pictures shown beside each language in the language list.

Writes data/Languages/<language>.bmp as 24x16 pixel, 24-bit uncompressed BMP files.
Run from anywhere: python3 scripts/make_flags.py
"""
import pathlib
import struct

WIDTH, HEIGHT = 24, 16
LANGUAGES = pathlib.Path(__file__).resolve().parent.parent / "data" / "Languages"

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)
RED_DE = (221, 0, 0)
GOLD = (255, 206, 0)
BLUE_FR = (0, 85, 164)
RED_FR = (239, 65, 53)
BLUE_UK = (1, 33, 105)
RED_UK = (200, 16, 46)


def german(x, y):
    return (BLACK, RED_DE, GOLD)[y * 3 // HEIGHT]


def french(x, y):
    return (BLUE_FR, WHITE, RED_FR)[x * 3 // WIDTH]


def english(x, y):
    """The Union flag, simplified to fit 24x16 pixels."""
    # Distance of the pixel centre from each diagonal, measured across the flag's height.
    cx, cy = x + 0.5, y + 0.5
    down = abs(cy - cx * HEIGHT / WIDTH)
    up = abs(cy - (HEIGHT - cx * HEIGHT / WIDTH))
    middle_x, middle_y = abs(cx - WIDTH / 2), abs(cy - HEIGHT / 2)
    if middle_x < 1 or middle_y < 1:
        return RED_UK
    if middle_x < 2 or middle_y < 2:
        return WHITE
    if min(down, up) < 0.5:
        return RED_UK
    if min(down, up) < 1.3:
        return WHITE
    return BLUE_UK


def bmp(pixel):
    row_size = (WIDTH * 3 + 3) // 4 * 4
    image_size = row_size * HEIGHT
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + image_size, 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, image_size, 2835, 2835, 0, 0)
    rows = []
    for y in reversed(range(HEIGHT)):  # BMP rows run from the bottom up
        row = bytearray()
        for x in range(WIDTH):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(row_size - len(row))
        rows.append(bytes(row))
    return header + info + b"".join(rows)


def main():
    for name, pixel in (("English", english), ("Deutsch", german), ("Français", french)):
        path = LANGUAGES / f"{name}.bmp"
        path.write_bytes(bmp(pixel))
        print(path)


if __name__ == "__main__":
    main()
