// The tile sheet "untitled.bmp". Sheets are traded between players, so the
// file is read once, checked byte by byte, and handed to the library's BMP
// reader (which trusts its input) only in a layout that reader handles safely.
#pragma once

#include <allegro.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The largest sheet file read, in bytes.
constexpr std::size_t sheetMaxBytes = std::size_t{64} << 20;
// The largest width and height. A strip of 50-pixel tiles needs little height,
// and these keep the library's per-row costs small beside the pixels.
constexpr long sheetMaxWidth = 32768;
constexpr long sheetMaxHeight = 1024;
// The most pixels, so that no size the library computes (pixels times 4 bytes,
// in an int) can wrap.
constexpr long sheetMaxPixels = 1L << 24;

// Checks a BMP file held in memory and rewrites it into `checked`: a 40-byte
// header, bottom-up rows, a full 256-entry palette for 1- to 8-bit pixels, and
// exactly the pixel bytes the reader will consume, run-length runs cut at the
// end of their row. Returns why the file was refused, or nothing.
std::string checkSheet(const std::vector<std::uint8_t> &file, std::vector<std::uint8_t> &checked);
// Decodes bytes that checkSheet wrote with the library's reader, converted to
// the current colour depth; none if the library cannot.
BITMAP *decodeSheet(const std::vector<std::uint8_t> &checked);
// Loads a tile sheet from a BMP file; none, with the reason on standard error,
// when the file is not a BMP that can be read safely.
BITMAP *loadSheet(const char *path);
