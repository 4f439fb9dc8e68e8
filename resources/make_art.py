#!/usr/bin/env python3
"""Writes the programs' icons and the banner bitmap as small original artwork.

Usage: make_art.py OUTPUT_DIR

Files: corvane.ico (icon 128 of corvane), marlet.ico (icon 128 of marlet),
browse.ico (icon 140, the folder on the browse button), banner.bmp (bitmap 146).
Icons hold 32x32 and 16x16 images, 32 bits per pixel with an AND mask; the
bitmap is 24 bits per pixel, bottom-up, rows padded to 4 bytes.
"""
import os
import struct
import sys


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def corvane_pixel(x, y, n):
    # A blue rounded tile with two white "ports" joined by a line: a device server.
    r = n / 2 - 0.5
    dx, dy = x - r, y - r
    if dx * dx + dy * dy > (r + 0.3) ** 2:
        return None
    base = lerp((20, 80, 170), (60, 150, 230), y / n)
    port = n // 4
    if port <= x < 2 * port and port <= y < 3 * port and (x + y) % 2 == 0:
        return (255, 255, 255)
    if 2 * port + port // 2 <= x < 3 * port + port // 2 and port <= y < 3 * port:
        return (255, 255, 255)
    if y == n // 2 and 2 * port <= x < 2 * port + port // 2 + 1:
        return (255, 210, 60)
    return base


def marlet_pixel(x, y, n):
    # A green plug shape on a dark square: a virtual port.
    edge = max(1, n // 16)
    if x < edge or y < edge or x >= n - edge or y >= n - edge:
        return (30, 60, 40)
    if n // 3 <= x < 2 * n // 3 and n // 4 <= y < 3 * n // 4:
        return (90, 200, 110)
    if (x == n // 3 + edge or x == 2 * n // 3 - 2 * edge) and y < n // 4:
        return (220, 220, 220)
    return (20, 35, 30)


def browse_pixel(x, y, n):
    # A yellow folder.
    top = n // 4
    if y < top - n // 8 or y >= n - n // 8 or x < n // 16 or x >= n - n // 16:
        return None
    if y < top and x > n // 2:
        return None
    return lerp((250, 215, 90), (220, 170, 40), y / n)


def icon_image(pixel, n):
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    mask_stride = ((n + 31) // 32) * 4
    for y in range(n - 1, -1, -1):  # bottom-up
        row = bytearray(mask_stride)
        for x in range(n):
            p = pixel(x, y, n)
            if p is None:
                colour += struct.pack("<BBBB", 0, 0, 0, 0)
                row[x // 8] |= 0x80 >> (x % 8)
            else:
                colour += struct.pack("<BBBB", p[2], p[1], p[0], 255)
        mask += row
    return header + bytes(colour) + bytes(mask)


def write_icon(path, pixel):
    sizes = [32, 16]
    images = [icon_image(pixel, n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


def banner_pixel(x, y, w, h):
    # A horizontal gradient band with a row of small squares.
    c = lerp((10, 60, 140), (90, 170, 240), x / w)
    if h // 3 <= y < 2 * h // 3 and (x // 6) % 3 == 0 and x > w // 10:
        return (255, 255, 255)
    if y == h - 3:
        return (255, 200, 40)
    return c


def write_bitmap(path, w, h):
    stride = (w * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = banner_pixel(x, y, w, h)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(file_header + info + pixels)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: make_art.py OUTPUT_DIR\n")
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_icon(os.path.join(out, "corvane.ico"), corvane_pixel)
    write_icon(os.path.join(out, "marlet.ico"), marlet_pixel)
    write_icon(os.path.join(out, "browse.ico"), browse_pixel)
    write_bitmap(os.path.join(out, "banner.bmp"), 240, 40)
    return 0


if __name__ == "__main__":
    sys.exit(main())
