// Unit tests of the tile-sheet check, without a display: BMP files built byte by byte, each rule exactly at
// its bound (accepted, and decoded by the library's reader to the colours ImageMagick decodes from the same
// bytes) and one step past it (refused, with its reason).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iterator>
#include <sstream>

#include "sheet.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The library with no system driver: decoded sheets become 32-bit with the default colour shifts.
class Library : public testing::Environment {
  void SetUp() override
  {
    ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0);
    set_color_depth(32);
  }
};
testing::Environment *const library = testing::AddGlobalTestEnvironment(new Library);

// Colours as 0xRRGGBB, rows from the top.
struct Picture {
  long width = 0, height = 0;
  std::vector<std::uint32_t> rgb;
};

// A picture of the colours `rgb` gives each pixel.
Picture picture(long width, long height, const std::function<std::uint32_t(long x, long y)> &rgb)
{
  Picture out{width, height, {}};
  out.rgb.reserve(width * height);
  for (long y = 0; y < height; y++)
    for (long x = 0; x < width; x++)
      out.rgb.push_back(rgb(x, y));
  return out;
}

// Whether two pictures are alike; else the first pixel that differs.
testing::AssertionResult same(const Picture &got, const Picture &want)
{
  if (got.width != want.width || got.height != want.height || got.rgb.size() != want.rgb.size())
    return testing::AssertionFailure() << got.width << " x " << got.height << " (" << got.rgb.size() << " pixels), not "
                                       << want.width << " x " << want.height;
  for (std::size_t i = 0; i < got.rgb.size(); i++)
    if (got.rgb[i] != want.rgb[i])
      return testing::AssertionFailure() << "pixel (" << i % got.width << ", " << i / got.width << ") is #" << std::hex
                                         << got.rgb[i] << ", not #" << want.rgb[i];
  return testing::AssertionSuccess();
}

// The colours of a decoded sheet, which is then destroyed.
Picture colours(BITMAP *sheet)
{
  Picture out{sheet->w, sheet->h, {}};
  out.rgb.reserve(static_cast<std::size_t>(sheet->w) * sheet->h);
  for (int y = 0; y < sheet->h; y++)
    for (int x = 0; x < sheet->w; x++) {
      const int c = getpixel(sheet, x, y);
      out.rgb.push_back(getr32(c) << 16 | getg32(c) << 8 | getb32(c));
    }
  destroy_bitmap(sheet);
  return out;
}

// A scratch file of this test's own, removed when it goes.
struct TempFile {
  std::string path = testing::TempDir() + "quarrow-sheet-XXXXXX";
  TempFile() { close(mkstemp(path.data())); }
  ~TempFile() { std::remove(path.c_str()); }
  void write(const Bytes &bytes) const
  {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  }
  Bytes read() const
  {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
  }
};

// The standard output of a shell command, which must end with status 0.
Bytes run(const std::string &command)
{
  Bytes out;
  FILE *pipe = popen(command.c_str(), "r");
  for (int c; pipe && (c = std::fgetc(pipe)) != EOF;)
    out.push_back(static_cast<std::uint8_t>(c));
  const int status = pipe ? pclose(pipe) : -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  return out;
}

// What ImageMagick decodes from a BMP file that it must find `width` pixels wide.
Picture magick(const Bytes &file, long width)
{
  TempFile bmp;
  bmp.write(file);
  const Bytes rgb = run("timeout 30 convert 'BMP:" + bmp.path + "' -depth 8 rgb:- 2>/dev/null");
  Picture out{width, static_cast<long>(rgb.size() / 3 / width), {}};
  for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
    out.rgb.push_back(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
  return out;
}

// Appends a little-endian field of `size` bytes.
void put(Bytes &to, std::uint64_t value, int size)
{
  for (int i = 0; i < size; i++, value >>= 8)
    to.push_back(static_cast<std::uint8_t>(value));
}

// A BMP file's fields, laid out by bmp().
struct Bmp {
  std::uint32_t header = 40;
  long width = 5, height = 3;
  int bits = 24;
  std::uint32_t compression = 0, used = 0; // used: the palette's stated count (biClrUsed)
  Bytes palette;                           // stored entries: 3 bytes each after a 12-byte header, else 4
  std::vector<std::uint32_t> masks;        // red, green, blue: after a 40-byte header, inside longer ones
  Bytes pixels;
  long offset = -1; // where the pixels start (bfOffBits); by default right after the palette
};

// The bytes of a BMP file. An offset short of the palette's end cuts the palette there.
Bytes bmp(const Bmp &b)
{
  Bytes info;
  if (b.header == 12) {
    put(info, 12, 4);
    for (long value : {b.width, b.height, 1L, long{b.bits}})
      put(info, value, 2);
  } else {
    for (long value : {long{b.header}, b.width, b.height})
      put(info, value, 4);
    put(info, 1, 2);
    put(info, b.bits, 2);
    for (std::uint64_t value : {std::uint64_t{b.compression}, std::uint64_t{b.pixels.size()}, std::uint64_t{2835},
                                std::uint64_t{2835}, std::uint64_t{b.used}, std::uint64_t{0}})
      put(info, value, 4);
    if (b.header > 40)
      for (std::uint32_t mask : b.masks)
        put(info, mask, 4);
    info.resize(b.header);
    if (b.header == 40)
      for (std::uint32_t mask : b.masks)
        put(info, mask, 4);
  }
  const std::size_t offset = b.offset >= 0 ? b.offset : 14 + info.size() + b.palette.size();
  Bytes file = {'B', 'M'};
  put(file, offset + b.pixels.size(), 4);
  put(file, 0, 4);
  put(file, offset, 4);
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), b.palette.begin(), b.palette.end());
  file.resize(offset);
  file.insert(file.end(), b.pixels.begin(), b.pixels.end());
  return file;
}

// A 6-bit channel widened to 8 bits as the library widens palette colours, so that it survives them.
std::uint32_t sixBits(std::uint32_t value)
{
  return (value & 63) << 2 | (value & 63) >> 4;
}

// Palette entry `k`'s colour; the first 64 differ.
std::uint32_t paletteColour(std::uint32_t k)
{
  return sixBits(k * 7 + 1) << 16 | sixBits(k * 13 + 2) << 8 | sixBits(k * 29 + 3);
}

// `count` palette entries of `size` bytes: blue, green, red and a spare byte.
Bytes palette(int count, int size = 4)
{
  Bytes out;
  for (int k = 0; k < count; k++)
    put(out, paletteColour(k), size);
  return out;
}

// A pixel's value, y counted from the top: a palette index, a 16-bit word or 0xRRGGBB.
using Pixels = std::function<std::uint32_t(long x, long y)>;

// Pixel rows as a BMP stores them: bottom-up unless `topDown`, each padded to a multiple of 4 bytes.
Bytes rows(long width, long height, int bits, const Pixels &value, bool topDown = false)
{
  const long stride = (width * bits + 31) / 32 * 4;
  Bytes out(stride * height);
  for (long row = 0; row < height; row++)
    for (long x = 0, y = topDown ? row : height - 1 - row; x < width; x++) {
      std::uint8_t *at = &out[row * stride + x * bits / 8];
      if (bits < 8)
        *at |= value(x, y) << (8 - bits - x * bits % 8);
      for (int i = 0; i < bits / 8; i++)
        at[i] = static_cast<std::uint8_t>(value(x, y) >> 8 * i);
    }
  return out;
}

// Pixels that differ from their neighbours at every depth. 16-bit channels keep to values that the library and
// ImageMagick widen alike: 0 to 2 and the top three (5-bit 29 to 31, 6-bit green 61 to 63).
Pixels pattern(int bits, bool sixBitGreen = false)
{
  if (bits <= 8)
    return [bits](long x, long y) { return static_cast<std::uint32_t>(x * 3 + y * 5) % (1u << bits); };
  if (bits == 16)
    return [sixBitGreen](long x, long y) {
      const auto channel = [](long n, std::uint32_t top) { return n % 6 < 3 ? n % 6 : top - n % 6 + 3; };
      const std::uint32_t red = channel(x + y, 31), blue = channel(x * 5 + 2 * y, 31);
      return sixBitGreen ? red << 11 | channel(x * 2 + y, 63) << 5 | blue
                         : red << 10 | channel(x * 2 + y, 31) << 5 | blue;
    };
  return [](long x, long y) { return static_cast<std::uint32_t>(x * 0x2F1B07 + y * 0x0B3D65) ^ 0x5A00005A; };
}

// What the pattern shows: palette colours, or the low 24 bits of 24- and 32-bit pixels.
Picture shown(long width, long height, int bits)
{
  const Pixels value = pattern(bits);
  return picture(width, height,
                 [&](long x, long y) { return bits <= 8 ? paletteColour(value(x, y)) : value(x, y) & 0xFFFFFF; });
}

// An uncompressed file of the pattern, with a full palette at 1 to 8 bits.
Bytes plain(long width, long height, int bits, std::uint32_t header = 40)
{
  Bmp file{header, width, height, bits, 0, 0, {}, {}, {}};
  if (bits <= 8)
    file.palette = palette(1 << bits, header == 12 ? 3 : 4);
  file.pixels = rows(width, std::labs(height), bits, pattern(bits), height < 0);
  return bmp(file);
}

// Run-length data with a 16-entry palette.
Bytes runs(int bits, long width, long height, const Bytes &data)
{
  return bmp({40, width, height, bits, bits == 8 ? 1u : 2u, 16, palette(16), {}, data});
}

// One file and what the check makes of it: a refusal, or colours: those the test computed, if any, and
// ImageMagick's, unless it decodes these bytes otherwise for a reason the row states.
struct Case {
  std::string name;
  Bytes file;
  std::string refusal; // empty when accepted
  Picture want;
  bool magick = true;
};
// A file that must decode as ImageMagick decodes it.
Case accepted(const std::string &name, const Bytes &file)
{
  return {name, file, "", {}, true};
}
// A file that must decode to `want`, and whether ImageMagick agrees.
Case shows(const std::string &name, const Bytes &file, const Picture &want, bool magick = true)
{
  return {name, file, "", want, magick};
}
// A file refused for `why`.
Case refused(const std::string &name, const Bytes &file, const std::string &why)
{
  return {name, file, why, {}, false};
}

// Checks one row: its refusal, or its colours.
void check(const Case &row)
{
  SCOPED_TRACE(row.name);
  Bytes checked;
  ASSERT_EQ(checkSheet(row.file, checked), row.refusal);
  if (!row.refusal.empty())
    return;
  BITMAP *sheet = decodeSheet(checked);
  ASSERT_NE(sheet, nullptr);
  const Picture got = colours(sheet);
  if (!row.want.rgb.empty()) {
    EXPECT_TRUE(same(got, row.want)) << "as computed";
  }
  if (row.magick) {
    EXPECT_TRUE(same(got, magick(row.file, got.width))) << "as ImageMagick decodes it";
  }
}

// Checks every row of a table.
void check(const std::vector<Case> &table)
{
  for (const Case &row : table)
    check(row);
}

const std::string pastRow = "run-length data runs past the end of a row";
const std::string early = "run-length data ends before its end-of-picture mark";

// Runs, literal runs, jumps, and the ends of rows and of the picture, at 8 and 4 bits a pixel.
std::vector<Case> runCases()
{
  std::vector<Case> out = {
      // The reader fills run-length rows from the bottom only.
      refused("rle8_height_minus_1", runs(8, 8, -1, {8, 1, 0, 1}),
              "run-length data stored top to bottom is not a kind this game reads"),
  };
  for (int bits : {8, 4}) {
    const std::string depth = "rle" + std::to_string(bits) + "_";
    // `n` pixels of one colour, and `n` literal pixels 1, 2, 3... padded to 16 bits: a byte each at 8 bits, a
    // byte for two at 4.
    const auto run = [bits](int n) { return Bytes{static_cast<std::uint8_t>(n), std::uint8_t(bits == 8 ? 7 : 0x7A)}; };
    const auto literal = [bits](int n) {
      Bytes out = {0, static_cast<std::uint8_t>(n)};
      for (int i = 0; i < n; i++)
        if (bits == 8)
          out.push_back(static_cast<std::uint8_t>(i % 15 + 1));
        else if (i % 2)
          out.back() |= i % 15 + 1;
        else
          out.push_back(static_cast<std::uint8_t>((i % 15 + 1) << 4));
      out.resize((out.size() + 1) / 2 * 2);
      return out;
    };
    const auto join = [](std::initializer_list<Bytes> parts) {
      Bytes out;
      for (const Bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
      return out;
    };
    const Bytes endOfRow = {0, 0}, endOfPicture = {0, 1};
    const auto add = [&](const std::string &name, long width, long height, const Bytes &data, const std::string &why) {
      out.push_back(why.empty() ? accepted(depth + name, runs(bits, width, height, data))
                                : refused(depth + name, runs(bits, width, height, data), why));
    };
    // 8 pixels a row fill whole 32-bit words: runs and literal runs may end at the row's end, not a pixel later.
    add("runs_to_row_end", 8, 2, join({run(3), run(5), endOfRow, run(8), endOfPicture}), "");
    add("run_one_past_row_end", 8, 2, join({run(3), run(6), endOfPicture}), pastRow);
    add("literals_to_row_end", 8, 2, join({literal(3), literal(5), endOfRow, literal(4), literal(4), endOfPicture}),
        "");
    add("literal_one_past_row_end", 8, 2, join({literal(3), literal(6), endOfPicture}), pastRow);
    // 5 pixels a row are stored in 8: runs may go on into the padding (ImageMagick's do), not a pixel further.
    add("runs_into_padding", 5, 2, join({run(3), run(5), endOfRow, run(5), run(3), endOfPicture}), "");
    add("run_one_past_padding", 5, 2, join({run(3), run(6), endOfPicture}), pastRow);
    add("literals_into_padding", 5, 3,
        join({literal(8), endOfRow, run(3), literal(5), endOfRow, run(4), literal(4), endOfPicture}), "");
    add("literal_one_past_padding", 5, 2, join({literal(9), endOfPicture}), pastRow);
    // A literal run's bytes, its padding included, must all be there.
    const Bytes five = literal(5), four = literal(4);
    add("literal_whole", 8, 1, join({five, run(3), endOfPicture}), "");
    add("literal_one_byte_short", 8, 1, Bytes(five.begin(), five.end() - 1), early);
    add("even_literal_one_byte_short", 8, 1, Bytes(four.begin(), four.end() - 1), early);
    // From the bottom row's third pixel to the top row's sixth, then 3 pixels to its end.
    add("jump_to_last_row", 8, 3, Bytes{2, 1, 0, 2, 3, 2, 3, 2, 0, 0}, "");
    add("jump_one_past_last_row", 8, 3, Bytes{2, 1, 0, 2, 3, 3, 3, 2, 0, 0}, "a run-length jump moves below the image");
    add("jump_to_right_edge", 8, 2, Bytes{2, 1, 0, 2, 6, 0, 0, 0, 8, 2, 0, 1}, "");
    add("jump_one_past_right_edge", 8, 2, Bytes{2, 1, 0, 2, 7, 0, 0, 0, 8, 2, 0, 1},
        "a run-length jump moves past the right edge");
    add("jump_cut_short", 8, 2, Bytes{2, 1, 0, 2, 6}, early);
    // The reader stops after the last row's end, whatever follows.
    add("end_of_row_on_last_row", 8, 2, Bytes{8, 1, 0, 0, 8, 2, 0, 0, 0xFF, 0xFF}, "");
    // ImageMagick decodes a picture that ends early alike, but calls it an unexpected end of file.
    const Picture bottomRowOnly = picture(8, 2, [bits](long x, long y) {
      return paletteColour(y == 0 ? 0 : bits == 8 ? 1 : x % 2);
    });
    out.push_back(shows(depth + "end_of_picture", runs(bits, 8, 2, {8, 1, 0, 1}), bottomRowOnly, false));
    add("no_end_of_picture", 8, 2, Bytes{8, 1, 0, 0}, early);
    add("half_a_pair", 8, 2, Bytes{8, 1, 0}, early);
    add("height_1", 8, 1, Bytes{8, 1, 0, 0}, "");
  }
  // Run-length pixels may start at the very end of the file (and then lack their end), not past it.
  Bytes empty = runs(8, 8, 2, {});
  out.push_back(refused("rle_starting_at_file_end", empty, early));
  empty[10]++;
  out.push_back(refused("rle_starting_past_file_end", empty, "the file ends before its pixels start"));
  return out;
}
TEST(SheetCheck, RunLengths)
{
  check(runCases());
}

// Width and height, the file's own bounds, kinds of pixel, and rows stored top-down.
std::vector<Case> sizeCases()
{
  const auto high = [](const std::string &height) {
    return "it is " + height + " pixels high; a tile sheet is 1 to 1,024 pixels high";
  };
  // 5 pixels of 3 bytes a row, padded to 12: the last row may lack its padding, not a pixel byte.
  const Bytes whole = plain(5, 3, 24);
  std::vector<Case> out = {
      shows("width_1", plain(1, 3, 24), shown(1, 3, 24)),
      refused("width_0", plain(0, 3, 24), "it is 0 pixels wide; a tile sheet is 1 to 32,768 pixels wide"),
      // ImageMagick's default policy refuses images more than 16,384 pixels wide.
      shows("width_32768", plain(32768, 1, 1), shown(32768, 1, 1), false),
      refused("width_32769", plain(32769, 1, 1), "it is 32,769 pixels wide; a tile sheet is 1 to 32,768 pixels wide"),
      shows("height_1024", plain(3, 1024, 4), shown(3, 1024, 4)),
      refused("height_1025", plain(3, 1025, 4), high("1,025")),
      shows("height_minus_1024", plain(3, -1024, 4), shown(3, 1024, 4)),
      refused("height_minus_1025", plain(3, -1025, 4), high("1,025")),
      refused("height_0", plain(3, 0, 4), high("0")),
      shows("height_1", plain(3, 1, 24), shown(3, 1, 24)),
      shows("height_minus_1", plain(3, -1, 24), shown(3, 1, 24)),
      // Top-down rows: the first stored lands on top, the last at the bottom.
      shows("top_down_24bit", plain(5, -4, 24), shown(5, 4, 24)),
      shows("top_down_8bit", plain(5, -4, 8), shown(5, 4, 8)),
      shows("top_down_1bit", plain(37, -4, 1), shown(37, 4, 1)),
      accepted("top_down_565",
               bmp({40, 5, -4, 16, 3, 0, {}, {0xF800, 0x7E0, 0x1F}, rows(5, 4, 16, pattern(16, true), true)})),
      // ImageMagick refuses a file that ends before its padding does.
      shows("last_row_unpadded", Bytes(whole.begin(), whole.end() - 1), shown(5, 3, 24), false),
      refused("last_row_one_byte_short", Bytes(whole.begin(), whole.end() - 2),
              "the file ends 1 bytes before its pixels do"),
      refused("file_of_25_bytes", Bytes(whole.begin(), whole.begin() + 25), "it is not a BMP file"),
      refused("header_64", plain(5, 3, 24, 64), "header of 64 bytes is not a BMP header this game reads"),
      refused("os2_16bit", plain(5, 3, 16, 12), "16-bit pixels with compression 0 are not a kind this game reads"),
      refused("bits_2", plain(5, 3, 2), "2-bit pixels with compression 0 are not a kind this game reads"),
      refused("rle4_of_8bit", bmp({40, 8, 2, 8, 2, 16, palette(16), {}, {8, 1, 0, 1}}),
              "8-bit pixels with compression 2 are not a kind this game reads"),
      refused("bit_fields_24bit", bmp({40, 5, 3, 24, 3, 0, {}, {0xFF0000, 0xFF00, 0xFF}, rows(5, 3, 24, pattern(24))}),
              "24-bit pixels with compression 3 are not a kind this game reads"),
  };
  // Pixels may start where the header ends, its bit-field masks included, not a byte before; the file may
  // end there (and then lack its pixels), not a byte before.
  for (std::uint32_t header : {40u, 124u}) {
    const std::string name = std::to_string(header) + "_byte_header";
    const long end = 14 + header + (header == 40 ? 12 : 0);
    const Bytes file = bmp({header, 5, 3, 16, 3, 0, {}, {0xF800, 0x7E0, 0x1F}, rows(5, 3, 16, pattern(16, true))});
    out.push_back(accepted("pixels_at_end_of_" + name, file));
    out.push_back(refused("file_ending_with_" + name, Bytes(file.begin(), file.begin() + end),
                          "the file ends 34 bytes before its pixels do"));
    out.push_back(refused("file_ending_in_" + name, Bytes(file.begin(), file.begin() + end - 1),
                          "the file ends inside its header"));
    Bytes inside = file;
    inside[10]--;
    out.push_back(refused("pixels_inside_" + name, inside, "its pixels start inside its header"));
  }
  return out;
}
TEST(SheetCheck, Sizes)
{
  check(sizeCases());
}

// An 8-bit (or `bits`) row of the palette indices given, with `used` stated entries and `stored` present,
// the pixels starting `cut` bytes before the palette's end.
Bytes indexed(const std::vector<std::uint32_t> &indices, std::uint32_t used, int stored, int cut = 0, int bits = 8,
              std::uint32_t header = 40)
{
  const int entry = header == 12 ? 3 : 4;
  Bmp file{header, static_cast<long>(indices.size()), 1, bits, 0, used, palette(stored, entry), {}, {}};
  file.pixels = rows(file.width, 1, bits, [&](long x, long) { return indices[x]; });
  file.offset = 14 + header + stored * entry - cut;
  return bmp(file);
}

// The colours of such a row when the first `readable` entries are read and the rest are black.
Picture blackPast(const std::vector<std::uint32_t> &indices, std::uint32_t readable)
{
  return picture(indices.size(), 1,
                 [&](long x, long) { return indices[x] < readable ? paletteColour(indices[x]) : 0; });
}

// The palette's stated count, the bytes it has before the pixels, and pixels that name entries past either.
// ImageMagick reads a palette cut short from the pixel bytes and shows a pixel past the palette in a colour of
// its own, or refuses such a file: there the colours are computed here.
std::vector<Case> paletteCases()
{
  std::vector<std::uint32_t> all(256), eight = {0, 1, 2, 3, 4, 5, 6, 7}, four = {0, 1, 2, 3};
  for (std::uint32_t i = 0; i < 256; i++)
    all[i] = i;
  std::vector<std::uint32_t> sixteen(all.begin(), all.begin() + 16);
  return {
      shows("whole", indexed(all, 0, 256), blackPast(all, 256)),
      shows("stated_256", indexed(all, 256, 256), blackPast(all, 256)),
      refused("stated_257", indexed(all, 257, 257), "its palette has 257 colours; a palette holds at most 256"),
      // Entry 3 has its 3 colour bytes before the pixels, and then 2.
      shows("last_entry_read", indexed(four, 4, 4, 1), blackPast(four, 4)),
      shows("last_entry_partial", indexed(four, 4, 4, 2), blackPast(four, 3), false),
      shows("none", indexed(four, 0, 0), blackPast(four, 0), false),
      shows("past_stated", indexed(eight, 4, 4), blackPast(eight, 4), false),
      shows("stated_within_gap", indexed(eight, 4, 8), blackPast(eight, 4), false),
      shows("stated_past_gap", indexed(eight, 8, 4), blackPast(eight, 4), false),
      shows("full_count_within_gap", indexed(sixteen, 0, 20, 0, 4), blackPast(sixteen, 16)),
      shows("full_count_past_gap", indexed(eight, 0, 5), blackPast(eight, 5), false),
      shows("os2_last_entry_read", indexed(eight, 0, 4, 0, 8, 12), blackPast(eight, 4), false),
      shows("os2_last_entry_partial", indexed(eight, 0, 4, 1, 8, 12), blackPast(eight, 3), false),
  };
}
TEST(SheetCheck, Palettes)
{
  check(paletteCases());
}

// Every header size with 8-bit palette pixels, 24-bit pixels and (but OS/2's) each bit-field layout; 40 bytes
// with every other kind of pixel too, and OS/2's with its 3-byte palette entries at every depth.
std::vector<Case> headerCases()
{
  std::vector<Case> out;
  const std::vector<std::uint32_t> rgb565 = {0xF800, 0x7E0, 0x1F}, rgb555 = {0x7C00, 0x3E0, 0x1F},
                                   rgb888 = {0xFF0000, 0xFF00, 0xFF};
  for (std::uint32_t header : {12u, 40u, 52u, 56u, 108u, 124u}) {
    const std::string name = "header_" + std::to_string(header) + "_";
    for (int bits : {1, 4, 8, 24})
      if (bits >= 8 || header <= 40)
        out.push_back(shows(name + std::to_string(bits) + "bit", plain(13, 3, bits, header), shown(13, 3, bits)));
    if (header == 12)
      continue;
    out.push_back(
        accepted(name + "565", bmp({header, 13, 3, 16, 3, 0, {}, rgb565, rows(13, 3, 16, pattern(16, true))})));
    out.push_back(accepted(name + "555", bmp({header, 13, 3, 16, 3, 0, {}, rgb555, rows(13, 3, 16, pattern(16))})));
    out.push_back(shows(name + "888", bmp({header, 13, 3, 32, 3, 0, {}, rgb888, rows(13, 3, 32, pattern(32))}),
                        shown(13, 3, 32)));
  }
  out.push_back(accepted("header_40_16bit", plain(13, 3, 16)));
  out.push_back(shows("header_40_32bit", plain(13, 3, 32), shown(13, 3, 32)));
  return out;
}
TEST(SheetCheck, Headers)
{
  check(headerCases());
}

// Each bit-field mask one bit off either way, alone.
std::vector<Case> maskCases()
{
  std::vector<Case> out;
  const std::vector<std::uint32_t> rgb565 = {0xF800, 0x7E0, 0x1F}, rgb555 = {0x7C00, 0x3E0, 0x1F},
                                   rgb888 = {0xFF0000, 0xFF00, 0xFF};
  const std::pair<const char *, std::vector<std::uint32_t>> layouts[] = {
      {"565", rgb565}, {"555", rgb555}, {"888", rgb888}};
  for (const auto &[layout, masks] : layouts)
    for (int component = 0; component < 3; component++)
      for (bool up : {true, false}) {
        std::vector<std::uint32_t> wrong = masks;
        wrong[component] = up ? wrong[component] << 1 : wrong[component] >> 1;
        const int bits = masks[0] == 0xFF0000 ? 32 : 16;
        out.push_back(refused(std::string(layout) + "_" + "rgb"[component] + (up ? "_up" : "_down"),
                              bmp({40, 5, 3, bits, 3, 0, {}, wrong, rows(5, 3, bits, pattern(bits))}),
                              "its colour masks are not a layout this game reads"));
      }
  return out;
}
TEST(SheetCheck, Masks)
{
  check(maskCases());
}

// A sheet that ImageMagick writes with `options` in `format` from a picture of `count` colours (2 or 8 that
// survive every depth, or 24 palette colours) `width` pixels wide, and the header size, depth and
// compression it must write. The picture is an XPM, which ImageMagick holds as a palette without quantizing.
struct Written {
  std::string name, options, format;
  int count;
  long width;
  std::uint32_t header;
  int bits;
  std::uint32_t compression;
};

// Writes one such sheet and checks that it decodes as ImageMagick decodes it.
void check(const Written &row)
{
  SCOPED_TRACE(row.name);
  const long height = 5;
  std::ostringstream xpm;
  xpm << "/* XPM */\nstatic char *sheet[] = {\n\"" << row.width << " " << height << " " << row.count << " 1\",\n";
  for (int k = 0; k < row.count; k++) {
    const int vivid = row.count == 2 ? 7 * k : k;
    const std::uint32_t c = row.count > 8
                                ? paletteColour(k)
                                : (vivid & 4 ? 0xFF0000 : 0) | (vivid & 2 ? 0xFF00 : 0) | (vivid & 1 ? 0xFF : 0);
    xpm << "\"" << char('a' + k) << " c #" << std::hex << std::setw(6) << std::setfill('0') << c << std::dec << "\",\n";
  }
  for (long y = 0; y < height; y++) {
    xpm << "\"";
    for (long x = 0; x < row.width; x++)
      xpm << char('a' + (x + 3 * y) % row.count);
    xpm << (y + 1 < height ? "\",\n" : "\"};\n");
  }
  TempFile in, out;
  const std::string text = xpm.str();
  in.write(Bytes(text.begin(), text.end()));
  run("timeout 30 convert 'xpm:" + in.path + "' " + row.options + " '" + row.format + ":" + out.path + "'");
  const Bytes file = out.read();
  ASSERT_GT(file.size(), 30u);
  EXPECT_EQ(file[14], row.header);
  EXPECT_EQ(file[row.header == 12 ? 24 : 28], row.bits);
  EXPECT_EQ(row.header == 12 ? 0u : file[30], row.compression);
  Bytes checked;
  ASSERT_EQ(checkSheet(file, checked), "");
  BITMAP *sheet = decodeSheet(checked);
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(same(colours(sheet), magick(file, row.width)));
}

TEST(SheetCheck, SheetsImageMagickWrote)
{
  const Written written[] = {{"bmp3_24bit", "-type TrueColor", "BMP3", 24, 13, 40, 24, 0},
                             {"bmp_24bit", "-type TrueColor", "BMP", 24, 13, 124, 24, 0},
                             {"alpha_32bit", "-alpha on", "BMP", 24, 13, 124, 32, 3},
                             {"rgb565", "-type TrueColor -define bmp:subtype=RGB565", "BMP", 8, 13, 124, 16, 3},
                             {"rgb555", "-type TrueColor -define bmp:subtype=RGB555", "BMP", 8, 13, 124, 16, 3},
                             {"palette_1bit", "", "BMP3", 2, 13, 40, 1, 0},
                             {"palette_4bit", "", "BMP3", 8, 13, 40, 4, 0},
                             {"palette_8bit", "-compress None", "BMP3", 24, 13, 40, 8, 0},
                             {"palette_124", "-compress None", "BMP", 24, 13, 124, 8, 0},
                             {"os2_4bit", "", "BMP2", 8, 13, 12, 4, 0},
                             {"os2_8bit", "", "BMP2", 24, 13, 12, 8, 0},
                             {"rle8", "", "BMP3", 24, 13, 40, 8, 1}};
  for (const Written &row : written)
    check(row);
}

// 8-bit run-length rows of runs that change colour every 200 to 249 pixels, and the colours they show.
Bytes longRuns(long width, long height)
{
  Bytes data;
  for (long y = height - 1; y >= 0; y--) {
    const long run = 200 + y % 50;
    for (long x = 0; x < width; x += run)
      put(data, std::min(run, width - x) | ((x / run + y) % 16) << 8, 2);
    put(data, 0, 2);
  }
  return runs(8, width, height, data);
}
Picture longRunColours(long width, long height)
{
  Picture out{width, height, {}};
  out.rgb.reserve(width * height);
  for (long y = 0; y < height; y++)
    for (long x = 0, run = 200 + y % 50; x < width; x += run)
      out.rgb.insert(out.rgb.end(), std::min(run, width - x), paletteColour((x / run + y) % 16));
  return out;
}

// 16,777,216 pixels, in the widest rows (too wide for ImageMagick's policy, so computed here), and one more.
TEST(SheetCheck, PixelCount)
{
  Bytes checked;
  ASSERT_EQ(checkSheet(longRuns(32768, 512), checked), "");
  BITMAP *sheet = decodeSheet(checked);
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(same(colours(sheet), longRunColours(32768, 512)));
  EXPECT_EQ(checkSheet(longRuns(32768, 513), checked),
            "it is 32,768 x 513 pixels; a tile sheet holds at most 16,777,216 pixels");
  // 24,929 x 673 is 16,777,217.
  EXPECT_EQ(checkSheet(longRuns(24929, 673), checked),
            "it is 24,929 x 673 pixels; a tile sheet holds at most 16,777,216 pixels");
}

// What loadSheet says on standard error while it loads `path`, and the colours it loaded, if any.
std::string load(const std::string &path, Picture &loaded)
{
  TempFile said;
  std::fflush(stderr);
  const int saved = dup(2);
  FILE *capture = std::fopen(said.path.c_str(), "w");
  dup2(fileno(capture), 2);
  BITMAP *sheet = loadSheet(path.c_str());
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::fclose(capture);
  loaded = sheet ? colours(sheet) : Picture{};
  const Bytes text = said.read();
  return std::string(text.begin(), text.end());
}

// A valid sheet padded with zeros (a sparse file) to 64 MiB loads; one byte more is not read.
TEST(SheetCheck, FileBytes)
{
  TempFile sheet;
  sheet.write(plain(5, 3, 24));
  Picture loaded;
  ASSERT_EQ(truncate(sheet.path.c_str(), 64 << 20), 0);
  EXPECT_EQ(load(sheet.path, loaded), "");
  EXPECT_TRUE(same(loaded, shown(5, 3, 24)));
  ASSERT_EQ(truncate(sheet.path.c_str(), (64 << 20) + 1), 0);
  EXPECT_EQ(load(sheet.path, loaded),
            sheet.path + ": it is 67,108,865 bytes; a tile sheet may be at most 67,108,864\n");
  EXPECT_TRUE(loaded.rgb.empty());
}

} // namespace
