// Pictures for the tests: BMP files built byte by byte (any header size, depth, palette, bit-field layout and
// run-length data, with pixels in a pattern whose colours the tests can work out), and the colours ImageMagick
// decodes from an image file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "harness.h"

using Bytes = std::vector<std::uint8_t>;

// Colours as 0xRRGGBB, rows from the top.
struct Picture {
  long width = 0, height = 0;
  std::vector<std::uint32_t> rgb;
};

// A picture of the colours `rgb` gives each pixel, taken row by row.
inline Picture picture(long width, long height, const std::function<std::uint32_t(long x, long y)> &rgb)
{
  Picture out{width, height, {}};
  for (long y = 0; y < height; y++)
    for (long x = 0; x < width; x++)
      out.rgb.push_back(rgb(x, y));
  return out;
}

// What ImageMagick decodes from an image file (named as ImageMagick takes it, "BMP:file" say), with `options` then
// applied, read back from the binary PPM it writes, pixel by pixel.
inline Picture decode(const std::string &file, std::vector<std::string> options = {})
{
  const Scratch ppm;
  options.insert(options.begin(), {"convert", file});
  options.insert(options.end(), {"-depth", "8", "PPM:" + ppm.path});
  run(options);
  std::istringstream in(slurp(ppm.path));
  long width = 0, height = 0, top = 0;
  (in.ignore(2) >> width >> height >> top).get(); // "P6", the size, the top value and one white space
  return picture(width, height, [&in](long, long) {
    const int red = in.get(), green = in.get();
    return static_cast<std::uint32_t>(red << 16 | green << 8 | in.get());
  });
}

// Whether `got` is `want`; if not, where they part (GoogleTest's own diff of megabytes would take minutes).
template <class Elements> testing::AssertionResult alike(const Elements &got, const Elements &want)
{
  const auto at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first - got.begin();
  return (got == want ? testing::AssertionSuccess() : testing::AssertionFailure())
         << "they part at element " << at << " of " << got.size() << " and " << want.size();
}

// Palette entry `k`'s colour, the first 64 all different, each channel 6 bits widened to 8 as the library
// widens palette colours, so that they survive it.
inline std::uint32_t paletteColour(std::uint32_t k)
{
  const auto six = [](std::uint32_t v) { return (v & 63) << 2 | (v & 63) >> 4; };
  return six(k * 7 + 1) << 16 | six(k * 13 + 2) << 8 | six(k * 29 + 3);
}

// A pixel's value, unlike its neighbours': a palette index (x in the top row), a 16-bit word whose channels keep
// to values that the library and ImageMagick widen alike (0 to 2 and the top three), or 0xRRGGBB.
inline std::uint32_t pattern(long x, long y, int bits, bool sixBitGreen)
{
  const auto channel = [](long n, std::uint32_t top) { return n % 6 < 3 ? n % 6 : top - n % 6 + 3; };
  if (bits <= 8)
    return (x + y * 5) % (1u << bits);
  if (bits == 16)
    return channel(x + y, 31) << (sixBitGreen ? 11 : 10) | channel(x * 2 + y, sixBitGreen ? 63 : 31) << 5 |
           channel(x * 5 + 2 * y, 31);
  return static_cast<std::uint32_t>(x * 0x2F1B07 + y * 0x0B3D65) ^ 0x5A00005A;
}

// A BMP file's fields, laid out by bmp().
struct Bmp {
  long width = 5, height = 3;
  int bits = 24;
  std::uint32_t header = 40, compression = 0, used = 0; // used: the palette's stated count (biClrUsed)
  int entries = -1;                   // palette entries stored, 3 bytes each after a 12-byte header: -1 for all
  std::vector<std::uint32_t> masks{}; // red, green, blue: after a 40-byte header, inside longer ones
  Bytes pixels{};                     // by default the pattern, unless run-length
  int cut = 0; // pixels said to start this many bytes before the palette's end, which is cut there (never the
               // header), or if negative past the file's end
};

// The bytes of a BMP file: the pattern's rows bottom-up (top-down for a negative height), padded to 32 bits.
inline Bytes bmp(Bmp b)
{
  const long rows = std::labs(b.height), stride = (b.width * b.bits + 31) / 32 * 4;
  // Appends a little-endian field of `size` bytes.
  const auto put = [](Bytes &to, std::uint64_t value, int size) {
    for (int i = 0; i < size; i++, value >>= 8)
      to.push_back(static_cast<std::uint8_t>(value));
  };
  if (b.pixels.empty() && b.compression != 1 && b.compression != 2) {
    b.pixels.resize(stride * rows);
    for (long row = 0; row < rows; row++)
      for (long x = 0, y = b.height < 0 ? row : rows - 1 - row; x < b.width; x++) {
        const std::uint32_t value = pattern(x, y, b.bits, b.masks.size() == 3 && b.masks[1] == 0x7E0);
        std::uint8_t *at = &b.pixels[row * stride + x * b.bits / 8];
        if (b.bits < 8)
          *at |= value << (8 - b.bits - x * b.bits % 8);
        for (int i = 0; i < b.bits / 8; i++)
          at[i] = static_cast<std::uint8_t>(value >> 8 * i);
      }
  }
  Bytes info;
  if (b.header == 12) // OS/2's: 16-bit fields, its size as two
    for (long value : {12L, 0L, b.width, b.height, 1L, long{b.bits}})
      put(info, value, 2);
  else {
    // The 16-bit plane count (1) and depth as one 32-bit field.
    for (long value : {long{b.header}, b.width, b.height, long{b.bits} << 16 | 1, long{b.compression},
                       long(b.pixels.size()), 2835L, 2835L, long{b.used}, 0L})
      put(info, value, 4);
    for (std::uint32_t mask : b.masks)
      put(info, mask, 4);
    info.resize(std::max<std::size_t>(info.size(), b.header));
  }
  const int entry = b.header == 12 ? 3 : 4, entries = b.entries >= 0 ? b.entries : b.bits <= 8 ? 1 << b.bits : 0;
  const std::size_t offset = 14 + info.size() + entries * entry - b.cut;
  Bytes file = {'B', 'M'};
  for (std::size_t value : {offset + b.pixels.size(), std::size_t{0}, offset})
    put(file, value, 4);
  file.insert(file.end(), info.begin(), info.end());
  for (int k = 0; k < entries; k++)
    put(file, paletteColour(k), entry);
  file.resize(std::min(file.size(), std::max(offset, 14 + info.size())));
  file.insert(file.end(), b.pixels.begin(), b.pixels.end());
  return file;
}

// A run-length file with a 16-entry palette, its data written as words: "r5" is a run of 5 pixels, "l5" 5
// literal pixels with their padding, "e" a row's end, "E" the picture's, "~" drops the last byte, and a number
// is a byte as it stands ("0 2 dx dy" is a jump). Runs take palette entries 1 to 15 in turn (at 4 bits, two
// alternating) by where they stand, and a literal run's pixels 1 to 15. `cut` as for bmp().
inline Bytes rle(int bits, long width, long height, const std::string &words, int cut = 0)
{
  Bytes data;
  std::istringstream in(words);
  for (std::string word; in >> word;) {
    const int n = std::atoi(word.c_str() + 1), c = data.size() / 2 % 15 + 1;
    if (word[0] == 'r')
      data.insert(data.end(), {std::uint8_t(n), std::uint8_t(bits == 8 ? c : c << 4 | (c ^ 15))});
    else if (word[0] == 'l') {
      data.insert(data.end(), {0, std::uint8_t(n)});
      for (int i = 0; i < n; i += 8 / bits)
        data.push_back(bits == 8 ? i % 15 + 1 : (i % 15 + 1) << 4 | (i + 1 < n ? (i + 1) % 15 + 1 : 0));
      if ((n * bits + 7) / 8 % 2)
        data.push_back(0);
    } else if (word == "e" || word == "E")
      data.insert(data.end(), {0, std::uint8_t(word == "E")});
    else if (word == "~")
      data.pop_back();
    else
      data.push_back(std::uint8_t(std::stoi(word)));
  }
  return bmp({width, height, bits, 40, bits == 8 ? 1u : 2u, 16, 16, {}, data, cut});
}
