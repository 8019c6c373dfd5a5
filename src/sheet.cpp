// The tile sheet: the file is checked against what Allegro 4.4's BMP reader
// does with each byte, then rewritten into the one layout that reader handles
// safely and decoded from memory.
#include "sheet.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "log.h"
#include "platform.h"

// Little-endian fields of a file held in memory; 0 past its end.
static std::uint32_t field(const std::vector<std::uint8_t> &bytes, std::size_t at, int size)
{
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; i--)
    value = value << 8 | (at + i < bytes.size() ? bytes[at + i] : 0);
  return value;
}

// Appends a little-endian field of `size` bytes.
static void put(std::vector<std::uint8_t> &bytes, std::uint32_t value, int size)
{
  for (int i = 0; i < size; i++, value >>= 8)
    bytes.push_back(static_cast<std::uint8_t>(value));
}

// Walks run-length pixel data exactly as the library's reader decodes it and
// rewrites it into `pixels`, refusing any pixel that would land outside the
// image. Encoders such as ImageMagick's run on into a row's padding (as far as
// its stored width, a multiple of 32 bits); the reader would write those pixels
// past the row, so they are cut off.
static const char *walkRunLengths(const std::uint8_t *data, std::size_t size, int bits, std::int64_t width,
                                  std::int64_t height, std::vector<std::uint8_t> &pixels)
{
  const char *const pastRow = "run-length data runs past the end of a row";
  const char *const early = "run-length data ends before its end-of-picture mark";
  const std::int64_t stored = (width * bits + 31) / 32 * 32 / bits;
  std::size_t at = 0;
  std::int64_t x = 0;
  std::int64_t y = height - 1; // the reader fills rows from the bottom
  for (;;) {
    if (size - at < 2)
      return early;
    const int count = data[at];
    const int value = data[at + 1];
    at += 2;
    if (count > 0) {
      if (x + count > stored)
        return pastRow;
      if (x < width)
        pixels.insert(pixels.end(),
                      {static_cast<std::uint8_t>(std::min<std::int64_t>(count, width - x)), data[at - 1]});
      x += count;
    } else if (value == 0) { // end of row
      pixels.insert(pixels.end(), {0, 0});
      x = 0;
      if (--y < 0)
        break;
    } else if (value == 1) { // end of picture
      pixels.insert(pixels.end(), {0, 1});
      break;
    } else if (value == 2) { // jump right and down
      if (size - at < 2)
        return early;
      x += data[at];
      y -= data[at + 1];
      at += 2;
      if (x > width)
        return "a run-length jump moves past the right edge";
      if (y < 0)
        return "a run-length jump moves below the image";
      pixels.insert(pixels.end(), data + at - 4, data + at);
    } else { // `value` literal pixels, padded to a 16-bit boundary
      const auto literalBytes = [bits](std::int64_t n) {
        return static_cast<std::size_t>(bits == 8 ? (n + 1) / 2 * 2 : (n + 3) / 4 * 2);
      };
      if (x + value > stored)
        return pastRow;
      if (size - at < literalBytes(value))
        return early;
      // The pixels within the row: a shorter literal run, or one or two pixels
      // as runs (a 4-bit run of two alternates the halves of its byte).
      const std::int64_t kept = std::max<std::int64_t>(0, std::min<std::int64_t>(value, width - x));
      if (kept >= 3) {
        pixels.insert(pixels.end(), {0, static_cast<std::uint8_t>(kept)});
        pixels.insert(pixels.end(), data + at, data + at + literalBytes(kept));
      }
      for (std::int64_t i = 0; kept < 3 && i < kept; i += bits == 8 ? 1 : 2)
        pixels.insert(pixels.end(), {static_cast<std::uint8_t>(bits == 8 ? 1 : kept), data[at + i]});
      at += literalBytes(value);
      x += value;
    }
  }
  return nullptr;
}

std::string checkSheet(const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out)
{
  if (in.size() < 26 || in[0] != 'B' || in[1] != 'M')
    return "it is not a BMP file";
  const std::uint32_t headerSize = field(in, 14, 4);
  if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124)
    return "header of " + grouped(headerSize) + " bytes is not a BMP header this game reads";
  const bool os2 = headerSize == 12;
  // 64 bits, so that no size below can overflow where long is 32 bits.
  const std::int64_t width = os2 ? std::int64_t{field(in, 18, 2)} : std::int32_t(field(in, 18, 4));
  const std::int64_t height = os2 ? std::int64_t{field(in, 20, 2)} : std::int32_t(field(in, 22, 4));
  const std::int64_t rows = height < 0 ? -height : height;
  const int bits = static_cast<int>(field(in, os2 ? 24 : 28, 2));
  const std::uint32_t compression = os2 ? 0 : field(in, 30, 4);
  const std::uint32_t red = field(in, 54, 4), green = field(in, 58, 4), blue = field(in, 62, 4);
  // Bit-field masks follow a 40-byte header; longer headers hold them.
  const std::size_t headerEnd = 14 + headerSize + (headerSize == 40 && compression == 3 ? 12 : 0);
  if (in.size() < headerEnd)
    return "the file ends inside its header";
  if (width < 1 || width > sheetMaxWidth)
    return "it is " + grouped(width) + " pixels wide; a tile sheet is 1 to " + grouped(sheetMaxWidth) + " pixels wide";
  if (height == 0 || rows > sheetMaxHeight)
    return "it is " + grouped(rows) + " pixels high; a tile sheet is 1 to " + grouped(sheetMaxHeight) + " pixels high";
  if (width * rows > sheetMaxPixels)
    return "it is " + grouped(width) + " x " + grouped(rows) + " pixels; a tile sheet holds at most " +
           grouped(sheetMaxPixels) + " pixels";

  const bool plain =
      compression == 0 && (bits == 1 || bits == 4 || bits == 8 || bits == 24 || (!os2 && (bits == 16 || bits == 32)));
  const bool runs = (compression == 1 && bits == 8) || (compression == 2 && bits == 4);
  const bool fields =
      compression == 3 &&
      ((bits == 16 && blue == 0x1F && ((red == 0x7C00 && green == 0x3E0) || (red == 0xF800 && green == 0x7E0))) ||
       (bits == 32 && red == 0xFF0000 && green == 0xFF00 && blue == 0xFF));
  if (compression == 3 && (bits == 16 || bits == 32) && !fields)
    return "its colour masks are not a layout this game reads";
  if (!plain && !runs && !fields)
    return std::to_string(bits) + "-bit pixels with compression " + std::to_string(compression) +
           " are not a kind this game reads";
  if (runs && height < 0)
    return "run-length data stored top to bottom is not a kind this game reads";

  const std::size_t start = field(in, 10, 4);
  if (start < headerEnd)
    return "its pixels start inside its header";
  // Palette entries: as many as the header states, or all the depth can name.
  const std::uint32_t stated = os2 ? 0 : field(in, 46, 4);
  if (bits <= 8 && stated > 256)
    return "its palette has " + grouped(stated) + " colours; a palette holds at most 256";
  const std::size_t colours = stated != 0 ? stated : std::size_t{1} << std::min(bits, 8);
  const std::size_t stride = (width * bits + 31) / 32 * 4;
  const std::size_t plainEnd = start + stride * (rows - 1) + (width * bits + 7) / 8;
  if (!runs && in.size() < plainEnd)
    return "the file ends " + grouped(plainEnd - in.size()) + " bytes before its pixels do";
  std::vector<std::uint8_t> runData;
  if (runs && start > in.size())
    return "the file ends before its pixels start";
  if (runs)
    if (const char *problem = walkRunLengths(in.data() + start, in.size() - start, bits, width, height, runData))
      return problem;

  // The rewritten file: headers, masks or palette, then the pixels.
  const std::size_t paletteSize = bits <= 8 ? 256 * 4 : 0, masksSize = fields ? 12 : 0;
  const std::size_t pixelsSize = runs ? runData.size() : stride * rows;
  const std::size_t offset = 54 + masksSize + paletteSize;
  out.clear();
  out.reserve(offset + pixelsSize);
  put(out, 'B' | 'M' << 8, 2);
  put(out, static_cast<std::uint32_t>(offset + pixelsSize), 4);
  put(out, 0, 4);
  put(out, static_cast<std::uint32_t>(offset), 4);
  for (std::uint32_t value : {40u, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(rows)})
    put(out, value, 4);
  put(out, 1, 2);
  put(out, static_cast<std::uint32_t>(bits), 2);
  for (std::uint32_t value :
       {compression, static_cast<std::uint32_t>(pixelsSize), 2835u, 2835u, paletteSize ? 256u : 0u, 0u})
    put(out, value, 4);
  if (fields)
    for (std::uint32_t mask : {red, green, blue})
      put(out, mask, 4);
  if (paletteSize) {
    // The entries the header states, as far as their three colour bytes lie
    // before the pixels; the rest are black, so no pixel names a colour never read.
    const std::size_t entry = os2 ? 3 : 4;
    for (std::size_t i = 0; i < 256; i++)
      put(out, i < colours && headerEnd + i * entry + 3 <= start ? field(in, headerEnd + i * entry, 3) : 0, 4);
  }
  out.insert(out.end(), runData.begin(), runData.end());
  for (std::int64_t row = 0; !runs && row < rows; row++) {
    // Rows are stored bottom-up; a top-down file is turned over. A last row
    // whose padding the file lacks is padded here.
    const std::size_t from = start + stride * (height < 0 ? rows - 1 - row : row);
    const std::size_t length = std::min(stride, in.size() - from);
    out.insert(out.end(), in.data() + from, in.data() + from + length);
    out.resize(out.size() + stride - length);
  }
  return "";
}

// The library reads a PACKFILE through these: a file held in memory, read-only.
struct MemoryFile {
  const std::vector<std::uint8_t> *bytes;
  std::size_t at;
};
static int memoryClose(void *)
{
  return 0;
}
static int memoryGetc(void *file)
{
  MemoryFile &f = *static_cast<MemoryFile *>(file);
  return f.at < f.bytes->size() ? (*f.bytes)[f.at++] : EOF;
}
static int memoryUngetc(int c, void *file)
{
  MemoryFile &f = *static_cast<MemoryFile *>(file);
  return f.at > 0 ? (f.at--, c) : EOF;
}
static long memoryRead(void *to, long n, void *file)
{
  MemoryFile &f = *static_cast<MemoryFile *>(file);
  const std::size_t count = std::min<std::size_t>(n, f.bytes->size() - f.at);
  std::memcpy(to, f.bytes->data() + f.at, count);
  f.at += count;
  return static_cast<long>(count);
}
static int memoryPutc(int, void *)
{
  return EOF;
}
static long memoryWrite(const void *, long, void *)
{
  return 0;
}
static int memorySeek(void *file, int offset)
{
  MemoryFile &f = *static_cast<MemoryFile *>(file);
  f.at = std::min<std::size_t>(f.at + offset, f.bytes->size());
  return 0;
}
static int memoryEof(void *file)
{
  MemoryFile &f = *static_cast<MemoryFile *>(file);
  return f.at >= f.bytes->size();
}
static int memoryError(void *)
{
  return 0;
}
static const PACKFILE_VTABLE memoryFile = {memoryClose, memoryGetc, memoryUngetc, memoryRead, memoryPutc,
                                           memoryWrite, memorySeek, memoryEof,    memoryError};

BITMAP *decodeSheet(const std::vector<std::uint8_t> &checked)
{
  MemoryFile memory = {&checked, 0};
  BITMAP *sheet = nullptr;
  if (PACKFILE *packfile = pack_fopen_vtable(&memoryFile, &memory)) {
    sheet = load_bmp_pf(packfile, nullptr);
    pack_fclose(packfile);
  }
  return sheet;
}

// The file is read once and checked, and only the checked bytes reach the
// library's BMP reader, which trusts what it reads.
BITMAP *loadSheet(const char *path)
{
  std::string why;
  BITMAP *sheet = nullptr;
  try {
    std::vector<std::uint8_t> file, checked;
    std::uint64_t size = 0;
    why = readDataFile(path, sheetMaxBytes, file, size);
    if (why.empty() && size > sheetMaxBytes)
      why = "it is " + grouped(size) + " bytes; a tile sheet may be at most " + grouped(sheetMaxBytes);
    if (why.empty())
      why = checkSheet(file, checked);
    sheet = why.empty() ? decodeSheet(checked) : nullptr;
  } catch (const std::bad_alloc &) {
    // A sheet may take up to 64 MiB twice over, more than a small machine or a limit allows.
    why = "not enough memory to read it";
  }
  if (why.empty() && sheet == nullptr)
    why = "the library could not decode it";
  if (sheet == nullptr)
    tellPlayer("%s: %s\n", path, why.c_str());
  return sheet;
}
