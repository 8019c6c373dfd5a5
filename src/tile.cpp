// The game shell and the tile map: start-up and shutdown, the frame loop, the
// camera, and the map that is read from "map.txt" and painted once at start-up.
#include "tile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>
#include <vector>

#include "log.h"

std::atomic<std::int32_t> timer{0};
std::int32_t map[mapCells][mapCells];
BITMAP *tiles = nullptr;
BITMAP *mapbitmap = nullptr;
BITMAP *page1 = nullptr;
BITMAP *page2 = nullptr;
BITMAP *activepage = nullptr;
Camera camera = {0, 0};
FILE *logfile = nullptr;
FILE *mapfile = nullptr;

void timer_i()
{
  timer++;
}

// A tile sheet may be at most this many bytes and pixels, so that no size the
// library computes from it (pixels times 4 bytes, in an int) can wrap.
constexpr std::size_t sheetMaxBytes = std::size_t{64} << 20;
constexpr long sheetMaxPixels = 1L << 24;

// A number with its thousands grouped, as a player reads it: "4,096".
static std::string grouped(unsigned long n)
{
  std::string text = std::to_string(n);
  for (int at = static_cast<int>(text.size()) - 3; at > 0; at -= 3)
    text.insert(static_cast<std::size_t>(at), ",");
  return text;
}

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

// Walks run-length pixel data exactly as the library's reader decodes it, but
// refuses any pixel that would land outside its row or the image. `used` is the
// number of bytes the reader consumes.
static const char *walkRunLengths(const std::uint8_t *data, std::size_t size, int bits, long width, long height,
                                  std::size_t &used)
{
  const char *const pastRow = "run-length data runs past the end of a row";
  const char *const early = "run-length data ends before its end-of-picture mark";
  std::size_t at = 0;
  long x = 0;
  long y = height - 1; // the reader fills rows from the bottom
  for (;;) {
    if (size - at < 2)
      return early;
    const int count = data[at];
    const int value = data[at + 1];
    at += 2;
    if (count > 0) {
      if (x + count > width)
        return pastRow;
      x += count;
    } else if (value == 0) { // end of row
      x = 0;
      if (--y < 0)
        break;
    } else if (value == 1) { // end of picture
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
    } else { // `value` literal pixels, padded to a 16-bit boundary
      const std::size_t bytes = bits == 8 ? (value + 1) / 2 * 2 : (value + 3) / 4 * 2;
      if (x + value > width)
        return pastRow;
      if (size - at < bytes)
        return early;
      at += bytes;
      x += value;
    }
  }
  used = at;
  return nullptr;
}

// Checks a BMP file held in memory and rewrites it into the one layout that the
// library's reader handles safely: a 40-byte header, bottom-up rows, a full
// 256-entry palette for 1- to 8-bit pixels, and only the pixel bytes the reader
// will consume. Returns why it was refused, or nothing.
static std::string checkSheet(const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out)
{
  if (in.size() < 26 || in[0] != 'B' || in[1] != 'M')
    return "it is not a BMP file";
  const std::uint32_t headerSize = field(in, 14, 4);
  if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124)
    return "header of " + grouped(headerSize) + " bytes is not a BMP header this game reads";
  const bool os2 = headerSize == 12;
  const long width = os2 ? long{field(in, 18, 2)} : std::int32_t(field(in, 18, 4));
  const long height = os2 ? long{field(in, 20, 2)} : std::int32_t(field(in, 22, 4));
  const int bits = static_cast<int>(field(in, os2 ? 24 : 28, 2));
  const std::uint32_t compression = os2 ? 0 : field(in, 30, 4);
  const std::uint32_t red = field(in, 54, 4), green = field(in, 58, 4), blue = field(in, 62, 4);
  // Bit-field masks follow a 40-byte header; longer headers hold them.
  const std::size_t headerEnd = 14 + headerSize + (headerSize == 40 && compression == 3 ? 12 : 0);
  if (in.size() < headerEnd)
    return "the file ends inside its header";
  if (width < 1 || height == 0 || width > sheetMaxPixels || std::labs(height) > sheetMaxPixels / width)
    return "it is " + std::to_string(width) + " x " + std::to_string(height) + " pixels; a tile sheet holds 1 to " +
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
  const std::size_t rows = std::labs(height);
  const std::size_t stride = (width * bits + 31) / 32 * 4;
  const std::size_t plainEnd = start + stride * (rows - 1) + (width * bits + 7) / 8;
  if (!runs && in.size() < plainEnd)
    return "the file ends " + grouped(plainEnd - in.size()) + " bytes before its pixels do";
  std::size_t runBytes = 0;
  if (runs && start > in.size())
    return "the file ends before its pixels start";
  if (runs)
    if (const char *problem = walkRunLengths(in.data() + start, in.size() - start, bits, width, height, runBytes))
      return problem;

  // The rewritten file: headers, masks or palette, then the pixels.
  const std::size_t paletteSize = bits <= 8 ? 256 * 4 : 0, masksSize = fields ? 12 : 0;
  const std::size_t pixelsSize = runs ? runBytes : stride * rows;
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
    // As many entries as fit before the pixels, the way the reader counts them;
    // the rest are black, so that no pixel can name a colour that was never read.
    const std::size_t entry = os2 ? 3 : 4, space = start - headerEnd;
    const std::size_t entries = std::min<std::size_t>(256, space >= 3 ? (space - 3) / entry + 1 : 0);
    for (std::size_t i = 0; i < 256; i++)
      put(out, i < entries ? field(in, headerEnd + i * entry, 3) : 0, 4);
  }
  if (runs)
    out.insert(out.end(), in.data() + start, in.data() + start + runBytes);
  for (std::size_t row = 0; !runs && row < rows; row++) {
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

// Reads a whole regular file of at most sheetMaxBytes, without blocking on a
// FIFO or a device. Returns why it could not, or nothing.
static std::string readSheetFile(const char *path, std::vector<std::uint8_t> &bytes)
{
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return std::string("it cannot be opened (") + std::strerror(errno) + ")";
  std::string why;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    why = "it is not a regular file";
  } else if (static_cast<std::size_t>(status.st_size) > sheetMaxBytes) {
    why = "it is " + grouped(status.st_size) + " bytes; a tile sheet may be at most " + grouped(sheetMaxBytes);
  } else {
    bytes.resize(status.st_size);
    std::size_t got = 0;
    ssize_t n;
    while (got < bytes.size() && (n = read(fd, bytes.data() + got, bytes.size() - got)) > 0)
      got += n;
    bytes.resize(got);
  }
  close(fd);
  return why;
}

// The file is read once and checked, and only the checked bytes reach the
// library's BMP reader, which trusts what it reads.
BITMAP *loadSheet(const char *path)
{
  std::vector<std::uint8_t> file, checked;
  std::string why = readSheetFile(path, file);
  if (why.empty())
    why = checkSheet(file, checked);
  BITMAP *sheet = nullptr;
  if (why.empty()) {
    MemoryFile memory = {&checked, 0};
    if (PACKFILE *packfile = pack_fopen_vtable(&memoryFile, &memory)) {
      sheet = load_bmp_pf(packfile, nullptr);
      pack_fclose(packfile);
    }
    if (sheet == nullptr)
      why = "the library could not decode it";
  }
  if (sheet == nullptr)
    std::fprintf(stderr, "%s: %s\n", path, why.c_str());
  return sheet;
}

void initGraphics()
{
  tiles = loadSheet("untitled.bmp");
  if (tiles == nullptr)
    recordError("Error loading tile sheet untitled.bmp | load_bitmap(...)\n");
  mapbitmap = create_bitmap(mapPixels, mapPixels);
  if (mapbitmap == nullptr)
    recordError("Error creating map image | create_bitmap(...)\n");
}

// Makes the two pages. A window usually cannot have two video pages, so both
// then become memory bitmaps that showPage copies to the screen.
static void createPages()
{
  page1 = create_video_bitmap(SCREEN_W, SCREEN_H);
  page2 = create_video_bitmap(SCREEN_W, SCREEN_H);
  if (page1 == nullptr || page2 == nullptr) {
    if (page1 != nullptr)
      destroy_bitmap(page1);
    if (page2 != nullptr)
      destroy_bitmap(page2);
    page1 = create_bitmap(SCREEN_W, SCREEN_H);
    page2 = create_bitmap(SCREEN_W, SCREEN_H);
    if (page1 == nullptr || page2 == nullptr)
      recordError("Error creating video pages | create_bitmap(...)\n");
  }
  activepage = page2;
}

void clearScreen()
{
  if (page1 != nullptr)
    rectfill(page1, 0, 0, page1->w, page1->h, makecol(0, 0, 0));
  if (page2 != nullptr)
    rectfill(page2, 0, 0, page2->w, page2->h, makecol(0, 0, 0));
}

// Signals whose handlers the library replaces with its own clean-up. After a
// crash that clean-up can deadlock in the allocator and hang the game forever.
static const int crashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGINT, SIGQUIT};

// Reports a failed library step: the library's own reason (or `otherwise`,
// where it gives none) on standard error, then the error line in the log.
[[noreturn]] static void libraryFailed(const char *message, const std::string &otherwise = "")
{
  const std::string why = allegro_error[0] != '\0' ? allegro_error : otherwise;
  if (!why.empty())
    std::fprintf(stderr, "Allegro: %s\n", why.c_str());
  recordError("%s", message);
}

void initGame()
{
  openLog("gamelog.txt");
  writeToLog("-%s-", "Quarrow");
  writeToLog("--------------------");
  writeToLog("Version: %s, Started: %s", "0.1", "July 22nd, 2006");
  writeToLog("Created by: %s", "Pelmark");
  writeToLog("--------------------");
  writeToLog("Initalizating the Allegro Library");
  writeToLog("%s\n", allegro_id);

  // A crash or a request to stop ends the game at once, as it would without the
  // library; the log already holds every message written so far. A request that
  // comes while the library starts waits until its handlers are gone: they would
  // crash before the library is up.
  struct sigaction before[std::size(crashSignals)];
  sigset_t requests, unblocked;
  sigemptyset(&requests);
  for (int request : {SIGTERM, SIGINT, SIGQUIT})
    sigaddset(&requests, request);
  sigprocmask(SIG_BLOCK, &requests, &unblocked);
  for (std::size_t i = 0; i < std::size(crashSignals); i++)
    sigaction(crashSignals[i], nullptr, &before[i]);
  const int started = allegro_init();
  for (std::size_t i = 0; i < std::size(crashSignals); i++)
    sigaction(crashSignals[i], &before[i], nullptr);
  sigprocmask(SIG_SETMASK, &unblocked, nullptr);
  // Every other library call crashes when the library could not start. On X11
  // that means no display, and the library does not say so.
  const char *display = std::getenv("DISPLAY");
  if (started != 0)
    libraryFailed("Error initializing Allegro | allegro_init(...)\n",
                  display == nullptr || *display == '\0'
                      ? "DISPLAY is not set, so there is no X display to open"
                      : std::string("the X display ") + display + " could not be opened");

  writeToLog("Initalizing Graphics Mode\n%i X %i X %i bit\n", screenWidth, screenHeight, colorDepth);
  set_color_depth(colorDepth);
  allegro_error[0] = '\0'; // the library leaves its last message here even after a success
  if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, screenWidth, screenHeight, 0, 0) != 0)
    libraryFailed("Error initalizing graphics mode for Allegro | set_gfx_mode(...)\n");

  initGraphics();
  set_window_title("Quarrow");
  createPages();
  clearScreen();

  writeToLog("Initalizing Sound System...\n");
  allegro_error[0] = '\0';
  if (install_sound(DIGI_AUTODETECT, MIDI_AUTODETECT, "") != 0)
    libraryFailed("Error initializing Allegro sounds | install_sound(...)\n");

  writeToLog("Installing game componets...\n");
  allegro_error[0] = '\0';
  if (install_keyboard() != 0)
    libraryFailed("Error initializing keyboard for allegro | install_keyboard(...)\n\n");
  install_mouse();
  install_int_ex(timer_i, BPS_TO_TIMER(tickRate));

  camera.x = 0;
  camera.y = 0;
  std::srand(static_cast<unsigned>(std::time(nullptr)));

  loadMap();
  writeToLog("Loaded Map");
  createMap();
  writeToLog("Created Map");
}

void endGame()
{
  clearScreen();
  writeToLog("Quitting game...\n\n");
  activepage = nullptr;
  // Freed bitmaps are forgotten too, so that nothing names them and a leak checker sees any that is not freed.
  for (BITMAP **bitmap : {&page1, &page2, &tiles, &mapbitmap}) {
    if (*bitmap != nullptr)
      destroy_bitmap(*bitmap);
    *bitmap = nullptr;
  }
  writeToLog("Game closed successfully!\n");
  writeToLog("--- End Log ---");
  allegro_exit();
}

void mainLoop()
{
  while (!key[KEY_ESC]) {
    // Logic runs once per pending tick, so scrolling speed does not depend on the frame rate.
    while (timer > 0) {
      if (keypressed())
        detectKey();
      keepInBounds();
      timer--;
    }
    clearScreen();
    drawMap();
    showPage(activepage);
    activepage = (activepage == page1) ? page2 : page1;
  }
}

void drawMap()
{
  // The library clips the copy to the page, so this copies one screenful.
  blit(mapbitmap, activepage, camera.x, camera.y, 0, 0, mapbitmap->w, mapbitmap->h);
}

void showPage(BITMAP *page)
{
  if (is_video_bitmap(page))
    show_video_bitmap(page);
  else
    blit(page, screen, 0, 0, 0, 0, page->w, page->h);
}

void detectKey()
{
  if (key[KEY_UP])
    camera.y -= scrollStep;
  if (key[KEY_DOWN])
    camera.y += scrollStep;
  if (key[KEY_LEFT])
    camera.x -= scrollStep;
  if (key[KEY_RIGHT])
    camera.x += scrollStep;
}

void keepInBounds()
{
  if (camera.x <= 0)
    camera.x = 0;
  if (camera.y <= 0)
    camera.y = 0;
  if (screen->w + camera.x >= mapbitmap->w)
    camera.x = mapbitmap->w - screen->w;
  if (screen->h + camera.y >= mapbitmap->h)
    camera.y = mapbitmap->h - screen->h;
}

// Opens the map file if it is a regular file or a directory (which reads as
// empty). A link to a device, a FIFO or a socket could block or never end, so
// it counts as a map that cannot be opened.
static FILE *openMap(const char *path)
{
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat status;
  if (fd >= 0 && fstat(fd, &status) == 0 && (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)))
    if (FILE *file = fdopen(fd, "r"))
      return file;
  if (fd >= 0)
    close(fd);
  return nullptr;
}

// Reads one character of the map file. A CR LF line end counts as one newline,
// so a map saved on Windows lines up like one saved here.
static int readMapChar()
{
  int c = std::getc(mapfile);
  if (c == '\r') {
    int next = std::getc(mapfile);
    if (next == '\n')
      return next;
    if (next != EOF)
      std::ungetc(next, mapfile);
  }
  return c;
}

void loadMap()
{
  writeToLog("Opening Map File...\n");
  mapfile = openMap("map.txt");
  if (mapfile == nullptr) {
    allegro_message("Map failed to load!");
    return;
  }
  writeToLog("Getting first character...\n");
  int c = readMapChar();
  int x = 0;
  int y = 0;
  // Lines as a text editor shows them, to warn about a map that does not fit its grid.
  long lines = 0, length = 0, badRows = 0, firstBadRow = 0, firstBadLength = 0;
  while (c != EOF) {
    writeToLog("First while loop\n");
    // Each row is 24 cells and a line end; the line end and rows past the last are not stored.
    if (x < mapCells && y < mapCells)
      map[x][y] = static_cast<signed char>(c);
    writeToLog("Setting map to character from map");
    const int last = c;
    c = readMapChar();
    writeToLog("Got the character...\n");
    if (x >= mapCells) {
      x = 0;
      y++;
    } else {
      x++;
    }
    if (last != '\n')
      length++;
    if (last == '\n' || (c == EOF && length > 0)) {
      lines++;
      if (lines <= mapCells && length != mapCells) {
        if (badRows == 0) {
          firstBadRow = lines;
          firstBadLength = length;
        }
        badRows++;
      }
      length = 0;
    }
  }
  std::fclose(mapfile);
  mapfile = nullptr;
  if (badRows > 0)
    std::fprintf(
        stderr,
        "map.txt: line %ld has %ld characters, not %d (lines of another length: %ld); the cells after it shift\n",
        firstBadRow, firstBadLength, mapCells, badRows);
  if (lines != mapCells)
    std::fprintf(stderr, "map.txt: %d lines expected, %ld found; %s\n", mapCells, lines,
                 lines > mapCells ? "the lines past the 24th are ignored" : "the cells it does not reach show tile 0");
}

void createMap()
{
  // The library clips each copy, so an index outside the sheet paints only what lies inside it.
  for (int x = 0; x < mapCells; x++)
    for (int y = 0; y < mapCells; y++)
      blit(tiles, mapbitmap, tileSize * map[x][y], 0, tileSize * x, tileSize * y, tileSize, tileSize);

  // Tiles the map uses that the sheet does not wholly hold, named once each.
  const int sheetTiles = tiles->h >= tileSize ? tiles->w / tileSize : 0;
  std::string lacking;
  bool named[256] = {};
  for (int x = 0; x < mapCells; x++)
    for (int y = 0; y < mapCells; y++) {
      const int tile = map[x][y];
      if ((tile < 0 || tile >= sheetTiles) && !named[tile & 0xFF]) {
        named[tile & 0xFF] = true;
        lacking += " " + std::to_string(tile);
      }
    }
  if (!lacking.empty())
    std::fprintf(stderr, "map.txt uses tiles that untitled.bmp lacks (it holds %d):%s\n", sheetTiles, lacking.c_str());
}
void randomizeMap()
{
  for (int x = 0; x < mapCells; x++)
    for (int y = 0; y < mapCells; y++)
      map[x][y] = std::rand() % 4;
}
