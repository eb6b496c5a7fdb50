#!/usr/bin/env python3
"""Draws the program's icon, a page of text with a padlock in front of it, and writes it as a
Windows .ico file with 16, 32 and 48 pixel images of 32 bits (with alpha and the AND mask).

Every image is drawn from the same shapes at its own size, each pixel sampled 4 x 4 times, so the
small images stay sharp. Needs nothing but Python 3; the output is the same on every run.

Usage: scripts/make-icon.py [OUTPUT]   (default: app/fileencryption.ico)
"""
import os
import struct
import sys

SIZES = (16, 32, 48)
SAMPLES = 4

PAGE = (0xF4, 0xF6, 0xFA)
PAGE_EDGE = (0x5A, 0x6B, 0x82)
FOLD = (0xC9, 0xD3, 0xE0)
LINE = (0x3C, 0x5A, 0x99)
SHACKLE = (0x6E, 0x74, 0x7C)
BODY = (0xE3, 0xA5, 0x1E)
BODY_EDGE = (0x8C, 0x5A, 0x08)
KEYHOLE = (0x3A, 0x2A, 0x10)


def in_rect(x, y, left, top, right, bottom):
    return left <= x < right and top <= y < bottom


def in_page(x, y):
    # The top right corner is folded over: cut off along the diagonal.
    return in_rect(x, y, 0.12, 0.04, 0.68, 0.90) and (x - 0.52) < (y - 0.04)


def in_page_inside(x, y):
    return in_rect(x, y, 0.16, 0.08, 0.64, 0.86) and (x - 0.50) < (y - 0.06)


def in_fold(x, y):
    return in_rect(x, y, 0.52, 0.04, 0.68, 0.20) and (x - 0.52) >= (y - 0.04)


def in_text_line(x, y):
    rows = (0.26, 0.38, 0.50, 0.62, 0.74)
    ends = (0.50, 0.58, 0.46, 0.56, 0.40)
    return any(in_rect(x, y, 0.22, row, end, row + 0.055) for row, end in zip(rows, ends))


def in_shackle(x, y):
    dx, dy = x - 0.70, y - 0.56
    distance = (dx * dx + dy * dy) ** 0.5
    upper = y <= 0.56 and 0.10 <= distance <= 0.17
    legs = 0.58 > y > 0.56 and (0.53 <= x <= 0.60 or 0.80 <= x <= 0.87)
    return upper or legs


def in_body(x, y):
    return in_rect(x, y, 0.46, 0.54, 0.94, 0.96)


def in_body_inside(x, y):
    return in_rect(x, y, 0.50, 0.58, 0.90, 0.92)


def in_keyhole(x, y):
    dx, dy = x - 0.70, y - 0.70
    return dx * dx + dy * dy <= 0.055**2 or in_rect(x, y, 0.68, 0.70, 0.72, 0.84)


# Painted in this order, later layers in front.
LAYERS = (
    (in_page, PAGE_EDGE),
    (in_page_inside, PAGE),
    (in_fold, FOLD),
    (in_text_line, LINE),
    (in_shackle, SHACKLE),
    (in_body, BODY_EDGE),
    (in_body_inside, BODY),
    (in_keyhole, KEYHOLE),
)


def pixel(size, column, row):
    """The pixel's premultiplied colour sum and coverage over its samples, as (r, g, b, a)."""
    r = g = b = a = 0.0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (column + (sx + 0.5) / SAMPLES) / size
            y = (row + (sy + 0.5) / SAMPLES) / size
            colour = None
            for inside, layer_colour in LAYERS:
                if inside(x, y):
                    colour = layer_colour
            if colour is not None:
                r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
    if a == 0:
        return (0, 0, 0, 0)
    return (round(r / a), round(g / a), round(b / a), round(255 * a / SAMPLES**2))


def image(size):
    """One icon image: the header with the doubled height, BGRA rows bottom up, the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = [[pixel(size, column, row) for column in range(size)] for row in range(size)]
    colour = b"".join(
        bytes((p[2], p[1], p[0], p[3])) for row in reversed(rows) for p in row)
    mask_row_bytes = (size + 31) // 32 * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_row_bytes)
        for column, p in enumerate(row):
            if p[3] == 0:
                bits[column // 8] |= 0x80 >> (column % 8)
        mask += bytes(bits)
    return header + colour + mask


def icon():
    images = [image(size) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in zip(SIZES, images):
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "app", "fileencryption.ico")
    with open(output, "wb") as file:
        file.write(icon())
    print(output)


if __name__ == "__main__":
    main()
