#!/usr/bin/env python3
"""Writes res/updater.ico: one 32x32 image with 16 colours (4 bits per pixel).

The picture is a blue rounded square with a white arrow pointing down onto a bar, drawn
pixel by pixel so that the icon can be remade without any image tool:

    python3 tools/make_icon.py res/updater.ico
"""
import struct
import sys

SIZE = 32

# The standard 16-colour palette (B, G, R, 0), index 0 black.
PALETTE = [
    (0x00, 0x00, 0x00), (0x00, 0x00, 0x80), (0x00, 0x80, 0x00), (0x00, 0x80, 0x80),
    (0x80, 0x00, 0x00), (0x80, 0x00, 0x80), (0x80, 0x80, 0x00), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0x00, 0x00, 0xFF), (0x00, 0xFF, 0x00), (0x00, 0xFF, 0xFF),
    (0xFF, 0x00, 0x00), (0xFF, 0x00, 0xFF), (0xFF, 0xFF, 0x00), (0xFF, 0xFF, 0xFF),
]  # as (R, G, B)
TRANSPARENT, BLUE, DARK_BLUE, WHITE = 0, 12, 4, 15


def pixel(x, y):
    """Colour index of the pixel at column x, row y (row 0 at the top)."""
    # Rounded square from 1 to 30 with corner radius 4.
    inside = 1 <= x <= 30 and 1 <= y <= 30
    for cx, cy in ((5, 5), (26, 5), (5, 26), (26, 26)):
        if (x < 5 or x > 26) and (y < 5 or y > 26):
            if (x - cx) ** 2 + (y - cy) ** 2 > 16 and abs(x - cx) <= 4 and abs(y - cy) <= 4:
                inside = False
    if not inside:
        return TRANSPARENT
    if x in (1, 30) or y in (1, 30):
        return DARK_BLUE
    # Arrow: shaft rows 6..15, columns 13..18; head rows 16..22 narrowing to a point.
    if 6 <= y <= 15 and 13 <= x <= 18:
        return WHITE
    if 16 <= y <= 22 and abs(x - 15.5) <= 22 - y + 0.5:
        return WHITE
    # The bar the arrow points at.
    if 24 <= y <= 26 and 7 <= x <= 24:
        return WHITE
    return BLUE


def build():
    rows_xor = []
    rows_and = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up, as bitmaps are stored
        xor = bytearray()
        for x in range(0, SIZE, 2):
            xor.append((pixel(x, y) << 4) | pixel(x + 1, y))
        rows_xor.append(bytes(xor))
        mask = 0
        for x in range(SIZE):
            if pixel(x, y) == TRANSPARENT:
                mask |= 1 << (31 - x)
        rows_and.append(struct.pack(">I", mask))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         SIZE * SIZE // 2 + SIZE * 4, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + palette + b"".join(rows_xor) + b"".join(rows_and)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return icondir + entry + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "res/updater.ico"
    with open(out, "wb") as f:
        f.write(build())


if __name__ == "__main__":
    main()
