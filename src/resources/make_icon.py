#!/usr/bin/env python3
"""Writes the program's icon (cvget.ico): a blue disc with a white downward
arrow, at 16x16 and 32x32, 32 bits per pixel with a 1-bit mask.
Run once when the design changes; the .ico it makes is kept in the tree."""
import struct
import sys


def pixel(x, y, size):
    c = (size - 1) / 2.0
    dx, dy = x - c, y - c
    r = size / 2.0 - 0.5
    if dx * dx + dy * dy > r * r:
        return None  # transparent
    u, v = x / size, y / size
    shaft = 0.42 <= u <= 0.58 and 0.18 <= v <= 0.55
    head = v >= 0.5 and v <= 0.82 and abs(u - 0.5) <= (0.82 - v) * 0.95
    if shaft or head:
        return (255, 255, 255)
    return (30, 90, 200)


def image(size):
    rows, mask_rows = [], []
    mask_stride = ((size + 31) // 32) * 4
    for y in range(size - 1, -1, -1):  # bottom-up
        row = bytearray()
        bits = bytearray(mask_stride)
        for x in range(size):
            p = pixel(x, y, size)
            if p is None:
                row += bytes((0, 0, 0, 0))
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                row += bytes((p[2], p[1], p[0], 255))
        rows.append(bytes(row))
        mask_rows.append(bytes(bits))
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b''.join(rows) + b''.join(mask_rows)


def main(path):
    sizes = (16, 32)
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'cvget.ico')
