#!/usr/bin/env python3
"""Writes the launcher's icon: a small tessellation of blue and white tiles,
at 16, 32 and 48 pixels, as a 32-bit .ico file. Usage: make-icon.py OUT.ico"""
import struct
import sys


def tile_colour(x, y, size):
    cell = max(size // 4, 2)
    cx, cy = x // cell, y // cell
    inner_x, inner_y = x % cell, y % cell
    # Triangles: each cell is split on its diagonal, alternating by row.
    upper = inner_x + inner_y < cell if (cx + cy) % 2 == 0 else inner_x > inner_y
    if upper:
        return (0xB0, 0x6F, 0x2A, 0xFF)  # blue, as BGRA
    return (0xF4, 0xE8, 0xD8, 0xFF)


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        rows.append(b"".join(bytes(tile_colour(x, y, size)) for x in range(size)))
    mask_row = b"\x00" * (((size + 31) // 32) * 4)
    return header + b"".join(rows) + mask_row * size


def main():
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
