#!/usr/bin/env python3
"""Writes Quarrow's data files: data/map.txt (an island) and data/untitled.bmp (its tiles).

The sheet is a strip of 52 tiles of 50 x 50 pixels. Tile 0, shown everywhere when
map.txt is missing, is a loud magenta checker; tiles 1 to 47 are unused and carry a
dull red hatch; tiles 48 to 51 are the terrains that the map's digits "0" to "3" name.
Each terrain has noise in every row and column, so that no two camera positions show
the same view. Run from any directory: python3 tools/makedata.py
"""
import math
import os
import random
import struct

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")

TILE = 50
COUNT = 52

ISLAND = """\
000000000000000000000000
000000000000000000000000
000000001111110000000000
000000111222211100000000
000001122222222110000000
000011222233222211000000
000112222333322221100000
000122222233222222110000
001122222222222222211000
001222211222222222221000
001222111122223322221100
001222211222233332222100
001122222222223332222100
000122222222222222221100
000112222332222222211000
000011222333222222110000
000001122233222211100000
000000112222222110000000
000000011122211100000000
000000000111110000000010
000000000000000000000110
000000000000000000001100
000000000000000000000000
000000000000000000000000
"""


def clamp(v):
    return max(0, min(255, int(v)))


def terrain(index, x, y, rnd):
    """Colour of pixel (x, y) of terrain tile 48 + index."""
    n = rnd.uniform(-1, 1)
    if index == 0:  # water: blue with slanted swell
        wave = math.sin(x * 0.45 + y * 0.21) * 18
        return (clamp(25 + n * 10), clamp(85 + wave + n * 12), clamp(170 + wave + n * 15))
    if index == 1:  # sand: pale with darker grains
        grain = -40 if rnd.random() < 0.08 else 0
        return (clamp(222 + n * 14 + grain), clamp(200 + n * 14 + grain), clamp(140 + n * 10 + grain))
    if index == 2:  # grass: green with vertical blades
        blade = 25 if (x * 7 + y // 3) % 11 == 0 else 0
        return (clamp(55 + n * 15), clamp(145 + n * 25 + blade), clamp(55 + n * 12))
    crack = -45 if abs((x - 25) * 0.8 - (y - 25) * 0.6 + math.sin(y * 0.3) * 4) < 1.2 else 0
    return tuple(clamp(v + n * 22 + crack) for v in (122, 120, 126))  # rock: grey, one crack


def tile_pixel(t, x, y, rnd):
    if t == 0:
        return (255, 0, 255) if (x // 10 + y // 10) % 2 == 0 else (0, 0, 0)
    if t < 48:
        return (120, 30, 30) if (x + y) % 8 < 2 else (40, 10, 10)
    return terrain(t - 48, x, y, rnd)


def write_bmp(path, width, height, pixel):
    row_bytes = (width * 3 + 3) & ~3
    body = bytearray()
    for y in range(height - 1, -1, -1):  # BMP rows run bottom-up
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        body += row + bytes(row_bytes - len(row))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + body)


def main():
    rows = ISLAND.splitlines()
    assert len(rows) == 24 and all(len(r) == 24 and set(r) <= set("0123") for r in rows)
    with open(os.path.join(DATA, "map.txt"), "w", newline="\n") as f:
        f.write(ISLAND)
    rnd = random.Random(2006)
    sheet = [[tile_pixel(x // TILE, x % TILE, y, rnd) for x in range(TILE * COUNT)] for y in range(TILE)]
    write_bmp(os.path.join(DATA, "untitled.bmp"), TILE * COUNT, TILE, lambda x, y: sheet[y][x])


if __name__ == "__main__":
    main()
