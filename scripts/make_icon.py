#!/usr/bin/env python3
"""Draws the program icon: one 128 x 128 image in 24-bit colour, written as
an .ico holding a BMP (rows bottom-up, then an all-opaque AND mask).

A blue tile with an open book on it and a green arrow pointing down into
the book: pages being saved.

usage: make_icon.py [OUTPUT]   (default src/app/resources/folivex.ico)
"""
import struct
import sys

SIZE = 128


def inside_rounded(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def pixel(x, y):
    """The colour at (x, y), y counted from the top, as (r, g, b)."""
    background = (255, 255, 255)
    if not inside_rounded(x, y, 4, 4, 123, 123, 18):
        return background
    # The tile: blue, a little lighter towards the top.
    shade = int(40 * (1 - y / SIZE))
    colour = (30 + shade, 90 + shade, 170 + shade)
    # The open book: two pages meeting at the spine, lower half of the tile.
    spine = 64
    if 62 <= y <= 104 and 20 <= x <= 108:
        # Each page's top edge rises towards the outer corner.
        sag = abs(x - spine) // 8
        if y >= 66 - sag:
            colour = (250, 246, 232)
            if abs(x - spine) <= 1:
                colour = (150, 120, 80)
            elif (y - (66 - sag)) % 8 == 4 and 6 < abs(x - spine) < 38:
                colour = (190, 190, 200)
    # The arrow: a shaft and a head, above and over the spine.
    if 54 <= x <= 74 and 16 <= y <= 46:
        colour = (60, 190, 90)
    if 40 <= y <= 64 and abs(x - spine) <= (64 - y) * 1.2:
        colour = (60, 190, 90)
    return colour


def icon_bytes():
    xor_rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(SIZE):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        xor_rows.append(bytes(row))  # 384 bytes: a multiple of 4
    xor = b"".join(xor_rows)
    and_mask = bytes(SIZE // 8 * SIZE)  # 16 bytes a row, every pixel opaque
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 24, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    directory = struct.pack("<HHH", 0, 1, 1)
    # A width or height byte of 0 would mean 256; 128 is stored as is.
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "src/app/resources/folivex.ico"
    with open(path, "wb") as out:
        out.write(icon_bytes())


if __name__ == "__main__":
    main()
