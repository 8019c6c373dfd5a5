// Unit tests without a display. The tile-sheet check's: BMP files built byte by byte, each rule exactly at its
// bound (accepted, and decoded by the library's reader to the colours ImageMagick decodes from the same bytes) and
// one step past it (refused, with its reason). And, at the end, the address-space probe's and the message box's.
#include <gtest/gtest.h>

#include <cerrno>

#include "bmp.h"
#include "harness.h"
#include "log.h"
#include "platform.h"
#include "sheet.h"

namespace {

// The library with no system driver: decoded sheets become 32-bit with the default colour shifts.
const bool library = install_allegro(SYSTEM_NONE, &errno, atexit) == 0 && (set_color_depth(32), true);

// Whether two pictures are alike: their widths, then their colours.
testing::AssertionResult same(const Picture &got, const Picture &want)
{
  return got.width == want.width ? alike(got.rgb, want.rgb)
                                 : testing::AssertionFailure() << got.width << " pixels wide, not " << want.width;
}

// The colours of a decoded sheet, which is then destroyed; none without a sheet.
Picture colours(BITMAP *sheet)
{
  Picture out = !sheet ? Picture{} : picture(sheet->w, sheet->h, [sheet](long x, long y) {
    const int c = getpixel(sheet, x, y);
    return static_cast<std::uint32_t>(getr32(c) << 16 | getg32(c) << 8 | getb32(c));
  });
  destroy_bitmap(sheet);
  return out;
}

// Bit-field layouts: red, green and blue masks, 16-bit but for 888.
const std::vector<std::uint32_t> rgb565 = {0xF800, 0x7E0, 0x1F}, rgb555 = {0x7C00, 0x3E0, 0x1F},
                                 rgb888 = {0xFF0000, 0xFF00, 0xFF};
const std::pair<std::string, std::vector<std::uint32_t>> layouts[] = {
    {"565", rgb565}, {"555", rgb555}, {"888", rgb888}};

// One file and what the check makes of it: a refusal, or the colours ImageMagick decodes from it, or, where
// ImageMagick decodes these bytes otherwise (for the reason given over the row), the colours `want`.
struct Case {
  std::string name;
  Bytes file;
  std::string refusal; // empty when accepted
  Picture want{};      // empty for ImageMagick's colours
};

// Checks every row of a table: its refusal, or its colours.
void check(const std::vector<Case> &table)
{
  for (const Case &row : table) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(library);
    // The sanitizer build seeds its fuzzer with every file of the tables.
    if (const char *corpus = std::getenv("QUARROW_CORPUS"))
      std::ofstream(std::string(corpus) + "/" + row.name, std::ios::binary)
          .write(reinterpret_cast<const char *>(row.file.data()), row.file.size());
    Bytes checked; // left empty when the file is refused
    EXPECT_EQ(checkSheet(row.file, checked), row.refusal);
    if (!checked.empty() && row.refusal.empty()) {
      EXPECT_TRUE(same(colours(decodeSheet(checked)),
                       row.want.rgb.empty() ? decode("BMP:" + Scratch(row.file).path) : row.want));
    }
  }
}

TEST(SheetCheck, RunLengths)
{
  const char *const pastRow = "run-length data runs past the end of a row";
  const char *const early = "run-length data ends before its end-of-picture mark";
  // The reader fills run-length rows from the bottom only. Their data may start at the file's very end (and then
  // lack its end), not past it.
  check({{"rle8_height_minus_1", rle(8, 8, -1, "8 1 E"),
          "run-length data stored top to bottom is not a kind this game reads"},
         {"rle_starting_at_file_end", rle(8, 8, 2, ""), early},
         {"rle_starting_past_file_end", rle(8, 8, 2, "", -1), "the file ends before its pixels start"}});
  for (int bits : {8, 4}) {
    // One row at this depth.
    const auto row = [bits](std::string name, long w, long h, const char *words, const char *why, Picture want = {}) {
      return Case{"rle" + std::to_string(bits) + "_" + name, rle(bits, w, h, words), why, want};
    };
    check({
        // 8 pixels a row fill whole 32-bit words: runs and literal runs may end at the row's end, not a pixel later.
        row("runs_to_row_end", 8, 2, "r3 r5 e r8 E", ""),
        row("run_one_past_row_end", 8, 2, "r3 r6 E", pastRow),
        row("literals_to_row_end", 8, 2, "l3 l5 e l4 l4 E", ""),
        row("literal_one_past_row_end", 8, 2, "l3 l6 E", pastRow),
        // 5 pixels a row are stored in 8: runs may go on into the padding (ImageMagick's do), not a pixel further.
        row("runs_into_padding", 5, 2, "r3 r5 e r5 r3 E", ""),
        row("run_one_past_padding", 5, 2, "r3 r6 E", pastRow),
        row("literals_into_padding", 5, 3, "l8 e r3 l5 e r4 l4 E", ""),
        row("literal_one_past_padding", 5, 2, "l9 E", pastRow),
        // A literal run's bytes, its padding included, must all be there.
        row("literal_whole", 8, 1, "l5 r3 E", ""),
        row("literal_one_byte_short", 8, 1, "l5 ~", early),
        row("even_literal_one_byte_short", 8, 1, "l4 ~", early),
        // From the bottom row's third pixel to the top row's sixth, then 3 pixels to its end; to the right edge.
        row("jump_to_last_row", 8, 3, "r2 0 2 3 2 r3 e", ""),
        row("jump_one_past_last_row", 8, 3, "r2 0 2 3 3 r3 e", "a run-length jump moves below the image"),
        row("jump_to_right_edge", 8, 2, "r2 0 2 6 0 e r8 E", ""),
        row("jump_one_past_right_edge", 8, 2, "r2 0 2 7 0 e r8 E", "a run-length jump moves past the right edge"),
        row("jump_cut_short", 8, 2, "r2 0 2 6", early),
        // The reader stops after the last row's end, whatever follows.
        row("end_of_row_on_last_row", 8, 2, "r8 e r8 e 255 255", ""),
        // ImageMagick decodes a picture that ends early alike, but calls it an unexpected end of file. The top
        // row keeps entry 0.
        row("end_of_picture", 8, 2, "8 1 E", "",
            picture(8, 2, [bits](long x, long y) { return paletteColour(y * (bits == 8 ? 1 : x % 2)); })),
        row("no_end_of_picture", 8, 2, "r8 e", early),
        row("half_a_pair", 8, 2, "r8 0", early),
        row("height_1", 8, 1, "r8 e", ""),
    });
  }
}

// Width and height, the file's own bounds, kinds of pixel, and rows stored top-down.
TEST(SheetCheck, Sizes)
{
  // The first `n` bytes of a file, or with n < 0 all but its last -n.
  const auto head = [](const Bytes &f, long n) { return Bytes(f.begin(), (n < 0 ? f.end() : f.begin()) + n); };
  // 565 pixels after a header of `header` bytes, said to start `cut` bytes before its end.
  const auto fields = [](std::uint32_t header, int cut) { return bmp({5, 3, 16, header, 3, 0, 0, rgb565, {}, cut}); };
  // 5 pixels of 3 bytes a row, padded to 12: the last row may lack its padding, not a pixel byte.
  const Bytes whole = bmp({});
  check({
      {"width_1", bmp({1}), ""},
      {"width_0", bmp({0}), "it is 0 pixels wide; a tile sheet is 1 to 32,768 pixels wide"},
      // ImageMagick's default policy refuses images more than 16,384 pixels wide: entries 0 and 1 in turn.
      {"width_32768", bmp({32768, 1, 1}), "", picture(32768, 1, [](long x, long) { return paletteColour(x % 2); })},
      {"width_32769", bmp({32769, 1, 1}), "it is 32,769 pixels wide; a tile sheet is 1 to 32,768 pixels wide"},
      {"height_1024", bmp({3, 1024, 4}), ""},
      {"height_1025", bmp({3, 1025, 4}), "it is 1,025 pixels high; a tile sheet is 1 to 1,024 pixels high"},
      {"height_minus_1024", bmp({3, -1024, 4}), ""},
      {"height_minus_1025", bmp({3, -1025, 4}), "it is 1,025 pixels high; a tile sheet is 1 to 1,024 pixels high"},
      {"height_0", bmp({3, 0, 4}), "it is 0 pixels high; a tile sheet is 1 to 1,024 pixels high"},
      {"height_1", bmp({3, 1}), ""},
      {"height_minus_1", bmp({3, -1}), ""},
      // Top-down rows: the first stored lands on top, the last at the bottom.
      {"top_down_24bit", bmp({5, -4}), ""},
      {"top_down_8bit", bmp({5, -4, 8}), ""},
      {"top_down_1bit", bmp({37, -4, 1}), ""},
      {"top_down_565", bmp({5, -4, 16, 40, 3, 0, 0, rgb565}), ""},
      // ImageMagick refuses a file that ends before its padding does: the colours it decodes from the whole file.
      {"last_row_unpadded", head(whole, -1), "", decode("BMP:" + Scratch(whole).path)},
      {"last_row_one_byte_short", head(whole, -2), "the file ends 1 bytes before its pixels do"},
      {"file_of_25_bytes", head(whole, 25), "it is not a BMP file"},
      {"empty_file", {}, "it is not a BMP file"},
      {"header_64", bmp({5, 3, 24, 64}), "header of 64 bytes is not a BMP header this game reads"},
      {"os2_16bit", bmp({5, 3, 16, 12}), "16-bit pixels with compression 0 are not a kind this game reads"},
      {"bits_2", bmp({5, 3, 2}), "2-bit pixels with compression 0 are not a kind this game reads"},
      {"rle4_of_8bit", bmp({8, 2, 8, 40, 2}), "8-bit pixels with compression 2 are not a kind this game reads"},
      {"bit_fields_24bit", bmp({5, 3, 24, 40, 3, 0, 0, rgb888}),
       "24-bit pixels with compression 3 are not a kind this game reads"},
      // Pixels may start where the header ends (after 14 + 40 bytes and the masks, or 14 + 124), not a byte before;
      // the file may end there (and then lack its pixels), not a byte before.
      {"pixels_at_end_of_40_byte_header", fields(40, 0), ""},
      {"file_ending_with_40_byte_header", head(fields(40, 0), 66), "the file ends 34 bytes before its pixels do"},
      {"file_ending_in_40_byte_header", head(fields(40, 0), 65), "the file ends inside its header"},
      {"pixels_inside_40_byte_header", fields(40, 1), "its pixels start inside its header"},
      {"pixels_at_end_of_124_byte_header", fields(124, 0), ""},
      {"file_ending_with_124_byte_header", head(fields(124, 0), 138), "the file ends 34 bytes before its pixels do"},
      {"file_ending_in_124_byte_header", head(fields(124, 0), 137), "the file ends inside its header"},
      {"pixels_inside_124_byte_header", fields(124, 1), "its pixels start inside its header"},
  });
}

// The palette's stated count, the bytes it has before the pixels, and pixels (a row of entries 0, 1, 2...) that
// name entries past either. ImageMagick reads a palette cut short from the pixel bytes and shows a pixel past the
// palette in a colour of its own, or refuses such a file: there the first `read` entries show, the rest black.
TEST(SheetCheck, Palettes)
{
  const auto firstRead = [](long width, long read) {
    return picture(width, 1, [read](long x, long) { return x < read ? paletteColour(x) : 0; });
  };
  check({
      {"whole", bmp({256, 1, 8}), ""},
      {"stated_256", bmp({256, 1, 8, 40, 0, 256, 256}), ""},
      {"stated_257", bmp({256, 1, 8, 40, 0, 257, 257}), "its palette has 257 colours; a palette holds at most 256"},
      // Entry 3 has its 3 colour bytes before the pixels, and then 2.
      {"last_entry_read", bmp({4, 1, 8, 40, 0, 4, 4, {}, {}, 1}), ""},
      {"last_entry_partial", bmp({4, 1, 8, 40, 0, 4, 4, {}, {}, 2}), "", firstRead(4, 3)},
      {"none", bmp({4, 1, 8, 40, 0, 0, 0}), "", firstRead(4, 0)},
      {"past_stated", bmp({8, 1, 8, 40, 0, 4, 4}), "", firstRead(8, 4)},
      {"stated_within_gap", bmp({8, 1, 8, 40, 0, 4, 8}), "", firstRead(8, 4)},
      {"stated_past_gap", bmp({8, 1, 8, 40, 0, 8, 4}), "", firstRead(8, 4)},
      {"full_count_within_gap", bmp({16, 1, 4, 40, 0, 0, 20}), ""},
      {"full_count_past_gap", bmp({8, 1, 8, 40, 0, 0, 5}), "", firstRead(8, 5)},
      {"os2_last_entry_read", bmp({8, 1, 8, 12, 0, 0, 4}), "", firstRead(8, 4)},
      {"os2_last_entry_partial", bmp({8, 1, 8, 12, 0, 0, 4, {}, {}, 1}), "", firstRead(8, 3)},
  });
}

// Every header size with 8-bit palette pixels (3-byte entries after OS/2's), 24-bit pixels and (but OS/2's)
// each bit-field layout; up to 40 bytes with 1- and 4-bit pixels too, and 40 with plain 16- and 32-bit ones. Each
// bit-field mask one bit off either way, alone, is refused.
TEST(SheetCheck, HeadersAndMasks)
{
  std::vector<Case> table = {{"header_40_16bit", bmp({13, 3, 16}), ""}, {"header_40_32bit", bmp({13, 3, 32}), ""}};
  for (std::uint32_t header : {12u, 40u, 52u, 56u, 108u, 124u}) {
    const std::string name = "header_" + std::to_string(header) + "_";
    for (int bits : {1, 4, 8, 24})
      if (bits >= 8 || header <= 40)
        table.push_back({name + std::to_string(bits) + "bit", bmp({13, 3, bits, header}), ""});
    for (const auto &[layout, masks] : layouts)
      if (header != 12)
        table.push_back({name + layout, bmp({13, 3, layout == "888" ? 32 : 16, header, 3, 0, 0, masks}), ""});
  }
  for (const auto &[layout, masks] : layouts)
    for (int c = 0; c < 6; c++) {
      std::vector<std::uint32_t> wrong = masks;
      wrong[c / 2] = c % 2 ? wrong[c / 2] >> 1 : wrong[c / 2] << 1;
      table.push_back({layout + "_" + "rgb"[c / 2] + (c % 2 ? "_down" : "_up"),
                       bmp({5, 3, layout == "888" ? 32 : 16, 40, 3, 0, 0, wrong}),
                       "its colour masks are not a layout this game reads"});
    }
  check(table);
}

// 16,777,216 pixels in the widest rows (too wide for ImageMagick's policy, so computed here), 8-bit runs of 200 to
// 249 pixels, each in the next colour; a row more, and 24,929 x 673 (16,777,217), are refused before their data
// is read.
TEST(SheetCheck, PixelCount)
{
  const auto colour = [](long x, long y) { return static_cast<std::uint32_t>(x / (200 + y % 50) + y) % 16; };
  std::string words;
  for (long y = 511; y >= 0; y--) {
    for (long x = 0, run = 200 + y % 50; x < 32768; x += run)
      words += std::to_string(std::min(run, 32768 - x)) + " " + std::to_string(colour(x, y)) + " ";
    words += "e ";
  }
  const std::string most = " pixels; a tile sheet holds at most 16,777,216 pixels";
  Bytes checked; // checked here, not in a table, to spare a copy of its 64 MiB of colours
  ASSERT_EQ(checkSheet(rle(8, 32768, 512, words), checked), "");
  EXPECT_TRUE(same(colours(decodeSheet(checked)),
                   picture(32768, 512, [&](long x, long y) { return paletteColour(colour(x, y)); })));
  check({{"32768_x_513", rle(8, 32768, 513, ""), "it is 32,768 x 513" + most},
         {"24929_x_673", rle(8, 24929, 673, ""), "it is 24,929 x 673" + most}});
}

// A valid sheet padded with zeros (a sparse file) to 64 MiB loads; one byte more is not read.
TEST(SheetCheck, FileBytes)
{
  const Scratch sheet(bmp({}));
  ASSERT_EQ(truncate(sheet.path.c_str(), 64 << 20), 0);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(same(colours(loadSheet(sheet.path.c_str())), decode("BMP:" + Scratch(bmp({})).path)));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(truncate(sheet.path.c_str(), (64 << 20) + 1), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(loadSheet(sheet.path.c_str()), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            sheet.path + ": it is 67,108,865 bytes; a tile sheet may be at most 67,108,864\n");
}

// memoryToSpare asks for address space to the page: a process allowed just 512 KiB more than it has mapped has them
// to spare, and not a page more. Each is asked in a child of its own, whose limit goes with it.
TEST(Platform, MemoryToSpareAtItsBound)
{
  const std::size_t bytes = 512 << 10, page = sysconf(_SC_PAGESIZE);
  for (const std::size_t asked : {bytes, bytes + page}) {
    const pid_t child = fork();
    if (child == 0) { // nothing is mapped from reading the mapped size to the probe
      char pages[64] = "";
      const int statm = open("/proc/self/statm", O_RDONLY);
      const bool read = ::read(statm, pages, sizeof pages - 1) > 0;
      rlimit limit;
      getrlimit(RLIMIT_AS, &limit);
      limit.rlim_cur = std::strtoul(pages, nullptr, 10) * page + bytes;
      _exit(read && close(statm) == 0 && setrlimit(RLIMIT_AS, &limit) == 0 ? memoryToSpare(asked) : 2);
    }
    EXPECT_EQ(finish(child, 10), asked == bytes ? 1 : 0) << asked << " bytes asked";
  }
}

// A box's line of 66 characters (not bytes) is kept, one of 67 broken at its last space, a longer word where it
// must be; 24 lines are kept, of 25 the first and the last 22, with a line saying that two were left out.
TEST(Box, BreaksAndCutsAtItsBounds)
{
  const std::string line = std::string(59, 'a') + "\xc3\xa9 bcdef", word(66, 'w');
  EXPECT_EQ(boxText(line + "\n"), line);
  EXPECT_EQ(boxText(line + "g"), line.substr(0, 61) + "\nbcdefg");
  EXPECT_EQ(boxText(word + "xy z"), word + "\nxy z");
  std::string lines = "1";
  for (int i = 2; i <= 24; i++)
    lines += "\n" + std::to_string(i);
  EXPECT_EQ(boxText(lines), lines);
  EXPECT_EQ(boxText(lines + "\n25"), "1\n(2 lines left out)" + lines.substr(lines.find("\n4")) + "\n25");
}

} // namespace
