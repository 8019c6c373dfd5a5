#!/usr/bin/env python3
"""Writes the end-to-end tests' files into the directory given, which also seed the fuzzer: valid tile
sheets of the main kinds (a 2600 x 50 strip in eight colours that survive every depth exactly, one of
them written by ImageMagick, and one of 130 tiles), hostile sheets, and a map of random bytes.
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
    # Written by ImageMagick: with its default 124-byte header, and plain 24-bit.
    for name, form in {"valid-imagemagick": "BMP", "valid-24bit": "BMP3"}.items():
        subprocess.run(["convert", "ppm:-", form + ":" + path(name)], input=ppm, check=True, timeout=60)
    indices = bytes(colour(x, y) for y in range(H - 1, -1, -1) for x in range(W))
    wide = 6500  # 130 tiles: tile 128 exists, so a map byte of 128 shows whether it is taken as -128
    wide_rows = b"".join(bytes(c for x in range(wide) for c in COLOURS[colour(x, y)][::-1]) for y in range(H - 1, -1, -1))
    sheets = {
        "wide": bmp(wide_rows, w=wide),
        "valid-8bit": bmp(indices, bits=8, palette=PALETTE),
        "valid-rle4": bmp(rle4(), bits=4, compression=2, palette=PALETTE),
        # Pixels that name colours past the end of the palette show black.
        "short-palette": bmp(indices, bits=8, palette=PALETTE[:8]),
        "short-palette-shown": bmp(b"".join(PALETTE[4 * i : 4 * i + 3] if i < 2 else bytes(3) for i in indices)),
        # Too wide, a run past the end of its row, a header this game does not read.
        "wraps": bmp(b"\0" * 64, w=65536, h=16385, bits=32),
        "rle8-run-past-row": bmp(b"\0\0" + bytes((9, 1)) + b"\0\1", w=8, h=2, bits=8, compression=1),
        "header-64": bmp(bytes(64), w=8, h=2, header=64),
    }
    for name, data in sheets.items():
        with open(path(name), "wb") as f:
            f.write(data)
    with open(os.path.join(out, "noise"), "wb") as f:
        f.write(bytes(b for b in random.Random(2006).randbytes(5000) if b != 13)[:4096])  # no CR LF pairs


if __name__ == "__main__":
    main(sys.argv[1])
