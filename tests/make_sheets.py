#!/usr/bin/env python3
"""Writes the tests' files into the directory given: one valid tile sheet of each kind the game reads (a
2600 x 50 strip whose eight colours survive every depth exactly), one hostile sheet of each kind the game
must refuse, and a map of random bytes. Usage: make_sheets.py DIRECTORY"""
import os
import random
import struct
import subprocess
import sys

W, H = 2600, 50
COLOURS = [(r, g, b) for r in (0, 255) for g in (0, 255) for b in (0, 255)]


def colour(x, y):
    """Index into COLOURS of pixel (x, y), counted from the top: runs of 1 to 7 pixels that differ per tile."""
    return (x // (1 + (x // 50 + y // 10) % 7) + y // 10) % 8


def rows(bits, pick, w=W, h=H, top_down=False):
    """Pixel rows in file order, each padded to 4 bytes; pick(x, y) gives an index or an (r, g, b)."""
    out = b""
    for y in range(h) if top_down else range(h - 1, -1, -1):
        if bits >= 15:
            row = b"".join(pixel(bits, pick(x, y)) for x in range(w))
        else:
            value = "".join(format(pick(x, y), "0%db" % bits) for x in range(w))
            value += "0" * (-len(value) % 8)
            row = int(value, 2).to_bytes(len(value) // 8, "big") if value else b""
        out += row + bytes(-len(row) % 4)
    return out


def pixel(bits, rgb):
    r, g, b = rgb
    if bits == 24:
        return bytes((b, g, r))
    if bits == 32:
        return bytes((b, g, r, 255))
    if bits == 16:  # 5-6-5
        return struct.pack("<H", (r >> 3) << 11 | (g >> 2) << 5 | b >> 3)
    return struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)  # 15: 5-5-5


def rle(bits, w=W, h=H, pick=colour):
    """Run-length data: repeats as runs, the rest as literal runs, rows bottom-up, then end of picture."""
    out = b""
    for y in range(h - 1, -1, -1):
        line = [pick(x, y) for x in range(w)]
        x = 0
        while x < w:
            n = 1
            while x + n < w and n < 255 and line[x + n] == line[x]:
                n += 1
            if n >= 3 or w - x < 3:
                out += bytes((n, line[x] * 17 if bits == 4 else line[x]))
                x += n
                continue
            n = min(w - x, 252, 3)
            while x + n < w and n < 252 and line[x + n] != line[x + n - 1]:
                n += 1
            out += bytes((0, n))
            if bits == 8:
                out += bytes(line[x : x + n]) + bytes(n % 2)
            else:
                nibbles = line[x : x + n] + [0] * (-n % 4)
                out += bytes(nibbles[i] << 4 | nibbles[i + 1] for i in range(0, len(nibbles), 2))
            x += n
        out += b"\0\0"
    return out + b"\0\1"


def bmp(data, w=W, h=H, bits=24, header=40, compression=0, palette=b"", masks=b""):
    """A BMP file with the header size given; masks follow a 40-byte header, longer headers hold them."""
    if header == 12:
        info = struct.pack("<IHHHH", 12, w, h, 1, bits)
    else:
        used = len(palette) // 4
        info = struct.pack("<IiiHHIIiiII", header, w, h, 1, bits, compression, len(data), 2835, 2835, used, used)
        info = info + masks if header == 40 else (info + masks).ljust(header, b"\0")
    start = 14 + len(info) + len(palette)
    return b"BM" + struct.pack("<IHHI", start + len(data), 0, 0, start) + info + palette + data


def palette(entry=4, count=8):
    return b"".join(bytes((b, g, r, 0)[:entry]) for r, g, b in COLOURS[:count])


def main(out):
    os.makedirs(out, exist_ok=True)
    rgb = lambda x, y: COLOURS[colour(x, y)]
    masks565, masks888 = struct.pack("<III", 0xF800, 0x7E0, 0x1F), struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0xFF << 24)
    sheets = {
        "valid-24bit": bmp(rows(24, rgb)),
        "valid-top-down": bmp(rows(24, rgb, top_down=True), h=-H),
        "valid-32bit-alpha": bmp(rows(32, rgb), bits=32, header=124, compression=3, masks=masks888),
        "valid-16bit-565": bmp(rows(16, rgb), bits=16, compression=3, masks=masks565[:12]),
        "valid-16bit-555": bmp(rows(15, rgb), bits=16),
        "valid-8bit": bmp(rows(8, colour), bits=8, palette=palette()),
        "valid-4bit": bmp(rows(4, colour), bits=4, header=108, palette=palette()),
        "valid-1bit": bmp(rows(1, lambda x, y: colour(x, y) % 2), bits=1, palette=palette(count=2)),
        "valid-rle8": bmp(rle(8), bits=8, compression=1, palette=palette()),
        "valid-rle4": bmp(rle(4), bits=4, compression=2, palette=palette()),
        "valid-os2": bmp(rows(8, colour), bits=8, header=12, palette=palette(entry=3)),
        # Pixels that would land outside the image, or data that ends early.
        "wraps": bmp(b"\0" * 64, w=65536, h=16385, bits=32),
        "rle8-run-past-row": bmp(b"\0\0" + bytes((9, 1)) + b"\0\1", w=8, h=2, bits=8, compression=1),
        "rle4-run-past-row": bmp(bytes((255, 0x12)) * 40 + b"\0\1", w=8, h=2, bits=4, compression=2),
        "rle8-literal-past-row": bmp(b"\0\x0c" + bytes(12) + b"\0\1", w=8, h=2, bits=8, compression=1),
        "rle4-literal-past-row": bmp(b"\0\x0c" + bytes(6) + b"\0\1", w=8, h=2, bits=4, compression=2),
        "rle-jump-past-right": bmp(b"\0\2\x09\0" + bytes((255, 7)) + b"\0\1", w=8, h=2, bits=8, compression=1),
        "rle-jump-below": bmp(b"\0\2\0\x09" + bytes((255, 7)) * 8 + b"\0\1", w=8, h=2, bits=8, compression=1),
        "rle-top-down": bmp(bytes((8, 1)) + b"\0\1", w=8, h=-2, bits=8, compression=1),
        "rle-truncated": bmp(rle(8)[:3000], bits=8, compression=1, palette=palette()),
        "header-64": bmp(rows(24, rgb, w=8, h=2), w=8, h=2, header=64),
        "rle8-24bit": bmp(b"\0\1", w=8, h=2, bits=24, compression=1),
        "jpeg": bmp(b"\xff\xd8\xff", w=8, h=2, compression=4),
        "swapped-masks": bmp(rows(32, rgb, w=8, h=2), w=8, h=2, bits=32, compression=3,
                             masks=struct.pack("<III", 0xFF, 0xFF00, 0xFF0000)),
    }
    for name, data in sheets.items():
        with open(os.path.join(out, name + ".bmp"), "wb") as f:
            f.write(data)
    with open(os.path.join(out, "noise"), "wb") as f:
        f.write(random.Random(2006).randbytes(4096))
    # ImageMagick's own default: a 124-byte header.
    ppm = b"P6 %d %d 255\n" % (W, H) + b"".join(bytes(rgb(x, y)) for y in range(H) for x in range(W))
    subprocess.run(["convert", "ppm:-", os.path.join(out, "valid-imagemagick.bmp")], input=ppm, check=True, timeout=60)


if __name__ == "__main__":
    main(sys.argv[1])
