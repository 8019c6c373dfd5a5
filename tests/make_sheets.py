#!/usr/bin/env python3
"""Writes the tests' files into the directory given: a valid tile sheet of each kind the game reads (a
2600 x 50 strip in eight colours that survive every depth exactly, most of them written by ImageMagick),
a hostile sheet of each kind the game must refuse, and a map of random bytes.
Usage: make_sheets.py DIRECTORY"""
import os
import random
import shutil
import struct
import subprocess
import sys

W, H = 2600, 50
COLOURS = [(r, g, b) for r in (0, 255) for g in (0, 255) for b in (0, 255)]
PALETTE = b"".join(bytes((b, g, r, 0)) for r, g, b in COLOURS)


def colour(x, y):
    """Index into COLOURS of pixel (x, y), counted from the top: runs of 1 to 7 pixels that differ per tile."""
    return (x // (1 + (x // 50 + y // 10) % 7) + y // 10) % 8


def bmp(data, w=W, h=H, bits=24, compression=0, palette=b"", header=40):
    """A BMP file: a 40-byte header, or a longer one padded with zeros, then the palette and the pixels."""
    info = struct.pack("<IiiHHIIiiII", header, w, h, 1, bits, compression, len(data), 2835, 2835, 0, 0)
    start = 14 + header + len(palette)
    return b"BM" + struct.pack("<IHHI", start + len(data), 0, 0, start) + info.ljust(header, b"\0") + palette + data


def rle4():
    """Run-length data with 4-bit pixels, bottom row first: runs of one colour, then end of row."""
    out = b""
    for y in range(H - 1, -1, -1):
        x = 0
        while x < W:
            n = 1
            while x + n < W and n < 255 and colour(x + n, y) == colour(x, y):
                n += 1
            out += bytes((n, colour(x, y) * 17))
            x += n
        out += b"\0\0"
    return out + b"\0\1"


def main(out):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    path = lambda name: os.path.join(out, name + ".bmp")
    ppm = b"P6 %d %d 255\n" % (W, H) + bytes(c for y in range(H) for x in range(W) for c in COLOURS[colour(x, y)])
    for name, options in {
        "valid-24bit": ["BMP3"],
        "valid-imagemagick": ["BMP"],  # ImageMagick's default: a 124-byte header
        "valid-32bit-alpha": ["-alpha", "on", "BMP"],
        "valid-16bit-565": ["-define", "bmp:subtype=RGB565", "BMP"],
        "valid-16bit-555": ["-define", "bmp:subtype=RGB555", "BMP"],
        "valid-4bit": ["-type", "Palette", "BMP3"],
        "valid-1bit": ["-threshold", "50%", "-type", "Bilevel", "BMP3"],
        "valid-rle8": ["-type", "Palette", "-compress", "RLE", "BMP3"],
        "valid-os2": ["-type", "Palette", "BMP2"],
    }.items():
        subprocess.run(["convert", "ppm:-"] + options[:-1] + [options[-1] + ":" + path(name)], input=ppm, check=True,
                       timeout=60)
    with open(path("valid-24bit"), "rb") as f:
        plain = f.read()[54:]
    stride = len(plain) // H
    flipped = b"".join(plain[y * stride : (y + 1) * stride] for y in range(H - 1, -1, -1))
    indices = bytes(colour(x, y) for y in range(H - 1, -1, -1) for x in range(W))
    wide = 6500  # 130 tiles: tile 128 exists, so a map byte of 128 shows whether it is taken as -128
    wide_rows = b"".join(bytes(c for x in range(wide) for c in COLOURS[colour(x, y)][::-1]) for y in range(H - 1, -1, -1))
    sheets = {
        "wide": bmp(wide_rows, w=wide),
        "valid-top-down": bmp(flipped, h=-H),
        "valid-8bit": bmp(indices, bits=8, palette=PALETTE),
        "valid-rle4": bmp(rle4(), bits=4, compression=2, palette=PALETTE),
        # Pixels that name colours past the end of the palette show black.
        "short-palette": bmp(indices, bits=8, palette=PALETTE[:8]),
        "short-palette-shown": bmp(b"".join(PALETTE[4 * i : 4 * i + 3] if i < 2 else bytes(3) for i in indices)),
        # Pixels that would land outside the image, data that ends early, kinds the reader cannot decode.
        "wraps": bmp(b"\0" * 64, w=65536, h=16385, bits=32),
        "rle8-run-past-row": bmp(b"\0\0" + bytes((9, 1)) + b"\0\1", w=8, h=2, bits=8, compression=1),
        "rle8-literal-past-row": bmp(b"\0\x0c" + bytes(12) + b"\0\1", w=8, h=2, bits=8, compression=1),
        "rle4-literal-past-row": bmp(b"\0\x0c" + bytes(6) + b"\0\1", w=8, h=2, bits=4, compression=2),
        "rle-jump-past-right": bmp(b"\0\2\x09\0" + bytes((255, 7)) + b"\0\1", w=8, h=2, bits=8, compression=1),
        "rle-jump-below": bmp(b"\0\2\0\x09" + bytes((255, 7)) * 8 + b"\0\1", w=8, h=2, bits=8, compression=1),
        "rle-top-down": bmp(bytes((8, 1)) + b"\0\1", w=8, h=-2, bits=8, compression=1),
        "rle-truncated": bmp(rle4()[:3001], bits=4, compression=2, palette=PALETTE),
        "header-64": bmp(bytes(64), w=8, h=2, header=64),
        "rle8-24bit": bmp(b"\0\1", w=8, h=2, compression=1),
        "jpeg": bmp(b"\xff\xd8\xff", w=8, h=2, compression=4),
        "swapped-masks": bmp(struct.pack("<III", 0xFF, 0xFF00, 0xFF0000) + bytes(64), w=8, h=2, bits=32, compression=3),
    }
    for name, data in sheets.items():
        with open(path(name), "wb") as f:
            f.write(data)
    with open(os.path.join(out, "noise"), "wb") as f:
        f.write(bytes(b for b in random.Random(2006).randbytes(5000) if b != 13)[:4096])  # no CR LF pairs


if __name__ == "__main__":
    main(sys.argv[1])
