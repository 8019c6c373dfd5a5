// The game shell and the tile map: start-up and shutdown, the frame loop, the
// camera, and the map that is read from "map.txt" and painted once at start-up.
#include "tile.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "log.h"
#include "platform.h"
#include "sheet.h"

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

// Reports a failed start-up step whose reason the game tells itself: `why`
// on standard error, then the error line `message` in the log.
[[noreturn]] static void startFailed(const char *message, const char *why)
{
  tellPlayer("Quarrow: %s\n", why);
  recordError("%s", message);
}

void initGraphics()
{
  tiles = loadSheet("untitled.bmp");
  if (tiles == nullptr)
    recordError("Error loading tile sheet untitled.bmp | load_bitmap(...)\n");
  mapbitmap = create_bitmap(mapPixels, mapPixels);
  if (mapbitmap == nullptr)
    startFailed("Error creating map image | create_bitmap(...)\n", "not enough memory for the map image");
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
      startFailed("Error creating video pages | create_bitmap(...)\n", "not enough memory for the pages");
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

// Reports a failed library step: the library's own reason (or `otherwise`,
// where it gives none) on standard error, then the error line in the log.
[[noreturn]] static void libraryFailed(const char *message, const std::string &otherwise = "")
{
  const std::string why = allegro_error[0] != '\0' ? allegro_error : otherwise;
  if (!why.empty())
    tellPlayer("Allegro: %s\n", why.c_str());
  recordError("%s", message);
}

// Reports a failed sound start: first that no sound device could be started
// and how to play without one, then the library's own words, which name only
// the last driver it tried (on Windows a MIDI one), then the error line in the
// log.
[[noreturn]] static void soundFailed()
{
  tellPlayer("Quarrow: %s\n", soundRemedy());
  if (allegro_error[0] != '\0')
    tellPlayer("The library said: %s\n", allegro_error);
  recordError("Error initializing Allegro sounds | install_sound(...)\n");
}

void initGame()
try {
  // Should the game be started with one of them closed, the log would take its
  // number and collect what the libraries print.
  openStandardStreams();
  openLog("gamelog.txt");
  writeToLog("-%s-", "Quarrow");
  writeToLog("--------------------");
  writeToLog("Version: %s, Started: %s", "0.1", "July 22nd, 2006");
  writeToLog("Created by: %s", "Pelmark");
  writeToLog("--------------------");
  writeToLog("Initalizating the Allegro Library");
  writeToLog("%s\n", allegro_id);

  // A crash or a request to stop ends the game at once, as it would without the
  // library; the log already holds every message written so far. Every other
  // library call crashes when the library could not start.
  // The display may go away at any point from here on.
  endOnDisplayLoss();
  nameWindow();
  if (startLibrary([] { return allegro_init(); }) != 0)
    libraryFailed("Error initializing Allegro | allegro_init(...)\n", whyLibraryFailed());

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
  quietSoundProbe();
  if (install_sound(DIGI_AUTODETECT, MIDI_AUTODETECT, "") != 0)
    soundFailed();

  writeToLog("Installing game componets...\n");
  // Memory that runs out inside the library's start of the keyboard and mouse crashes it: this much to spare
  // first (on a 64-bit Linux the most it was seen to need is under 300 KiB).
  const char *const keyboardError = "Error initializing keyboard for allegro | install_keyboard(...)\n\n";
  if (!memoryToSpare(512 << 10))
    startFailed(keyboardError, "not enough memory to start the keyboard and mouse");
  allegro_error[0] = '\0';
  if (install_keyboard() != 0)
    libraryFailed(keyboardError);
  install_mouse();
  install_int_ex(timer_i, BPS_TO_TIMER(tickRate));

  camera.x = 0;
  camera.y = 0;
  std::srand(static_cast<unsigned>(std::time(nullptr)));

  loadMap();
  writeToLog("Loaded Map");
  createMap();
  writeToLog("Created Map");
} catch (const std::bad_alloc &) {
  // What little the game allocates besides the sheet can fail too on a machine short of memory.
  if (logfile == nullptr)
    logfile = stderr;
  startFailed("Error allocating memory | new(...)\n", "not enough memory to start");
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

// Bytes of the map file read so far, and whether it holds more than are read.
static std::size_t mapBytes = 0;
static bool mapCut = false;

// Reads one byte of the map file, but no more than mapMaxBytes of it: every
// byte costs three flushed log writes, and a file may be endless.
static int readMapByte()
{
  if (mapBytes == mapMaxBytes) {
    mapCut = mapCut || std::getc(mapfile) != EOF;
    return EOF;
  }
  const int c = std::getc(mapfile);
  mapBytes += c != EOF;
  return c;
}

// Reads one character of the map file. A CR LF line end counts as one newline,
// so a map saved on Windows lines up like one saved here.
static int readMapChar()
{
  int c = readMapByte();
  if (c == '\r') {
    int next = readMapByte();
    if (next == '\n')
      return next;
    if (next != EOF) {
      // Given back, so it is read and counted again as the next character.
      std::ungetc(next, mapfile);
      mapBytes--;
    }
  }
  return c;
}

void loadMap()
{
  writeToLog("Opening Map File...\n");
  std::string why;
  mapfile = openMapFile("map.txt", logfile, why);
  if (mapfile == nullptr) {
    tellPlayer("map.txt: %s\n", why.c_str());
    // The box says why too, for a player who started the game from a menu and sees no terminal.
    static std::string box;
    box = boxText("Map failed to load!\nmap.txt: " + why);
    showMessage([] { allegro_message("%s", box.c_str()); });
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
  if (mapCut)
    tellPlayer("map.txt: only its first %s bytes are read; the rest is ignored\n", grouped(mapMaxBytes).c_str());
  if (badRows > 0)
    tellPlayer("map.txt: line %s has %s characters, not %d (lines of another length: %s); the cells after it shift\n",
               grouped(firstBadRow).c_str(), grouped(firstBadLength).c_str(), mapCells, grouped(badRows).c_str());
  if (lines != mapCells)
    tellPlayer("map.txt: %d lines expected, %s found; %s\n", mapCells, grouped(lines).c_str(),
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
    tellPlayer("map.txt uses tiles that untitled.bmp lacks (it holds %s):%s\n", grouped(sheetTiles).c_str(),
               lacking.c_str());
}
void randomizeMap()
{
  for (int x = 0; x < mapCells; x++)
    for (int y = 0; y < mapCells; y++)
      map[x][y] = std::rand() % 4;
}
