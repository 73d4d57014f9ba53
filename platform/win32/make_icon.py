#!/usr/bin/env python3
"""Draws the window's icon, a violet tile with a white sound wave, and
writes it as a .ico holding a 16x16 image and the same pixels doubled to
32x32 for the large icon. Usage: make_icon.py OUTPUT.ico"""
import struct
import sys

SIZE = 16
# Bar columns of the wave and their heights in pixels, centred on the tile.
BARS = {2: 4, 4: 8, 6: 12, 9: 8, 11: 10, 13: 4}
TOP = (0x7A, 0x5C, 0xD6)
BOTTOM = (0x4B, 0x2F, 0xA3)
BORDER = (0x35, 0x20, 0x7A)
WAVE = (0xFF, 0xFF, 0xFF)


def pixel(x, y):
    """RGBA of one pixel of the 16x16 tile, or None where it is clear."""
    edge_x = x in (0, SIZE - 1)
    edge_y = y in (0, SIZE - 1)
    if edge_x and edge_y:
        return None  # rounded corners
    if edge_x or edge_y:
        return BORDER + (0xFF,)
    height = BARS.get(x)
    if height and SIZE // 2 - height // 2 <= y < SIZE // 2 + height // 2:
        return WAVE + (0xFF,)
    t = (y - 1) / (SIZE - 3)
    return tuple(round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM)) + (0xFF,)


def image(scale):
    """A DIB for the icon: header, BGRA rows bottom-up, then the AND mask."""
    side = SIZE * scale
    rows = []
    mask_rows = []
    for y in reversed(range(side)):
        row = bytearray()
        bits = 0
        mask = bytearray()
        for x in range(side):
            rgba = pixel(x // scale, y // scale)
            if rgba is None:
                row += b"\0\0\0\0"
                bits = (bits << 1) | 1
            else:
                r, g, b, a = rgba
                row += bytes((b, g, r, a))
                bits <<= 1
            if x % 8 == 7:
                mask.append(bits)
                bits = 0
        mask += b"\0" * (-len(mask) % 4)  # rows pad to 32 bits
        rows.append(bytes(row))
        mask_rows.append(bytes(mask))
    pixels = b"".join(rows) + b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, side, side * 2, 1, 32, 0,
                         len(pixels), 0, 0, 0, 0)
    return side, header + pixels


def main():
    images = [image(1), image(2)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for side, data in images:
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data),
                           offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
