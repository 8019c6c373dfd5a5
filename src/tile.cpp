// The game shell and the tile map: start-up and shutdown, the frame loop, the
// camera, and the map that is read from "map.txt" and painted once at start-up.
#include "tile.h"

#include <csignal>
#include <cstdlib>
#include <ctime>

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

void initGraphics()
{
  tiles = load_bitmap("untitled.bmp", nullptr);
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

  // Every other library call crashes when the library could not start (no display).
  if (allegro_init() != 0)
    recordError("Error initializing Allegro | allegro_init(...)\n");
  // The library turns these into an abort and a core dump; a request to stop just ends the
  // game, and the log already holds every message written so far.
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);

  writeToLog("Initalizing Graphics Mode\n%i X %i X %i bit\n", screenWidth, screenHeight, colorDepth);
  set_color_depth(colorDepth);
  if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, screenWidth, screenHeight, 0, 0) != 0)
    recordError("Error initalizing graphics mode for Allegro | set_gfx_mode(...)\n");

  initGraphics();
  set_window_title("Quarrow");
  createPages();
  clearScreen();

  writeToLog("Initalizing Sound System...\n");
  if (install_sound(DIGI_AUTODETECT, MIDI_AUTODETECT, "") != 0)
    recordError("Error initializing Allegro sounds | install_sound(...)\n");

  writeToLog("Installing game componets...\n");
  if (install_keyboard() != 0)
    recordError("Error initializing keyboard for allegro | install_keyboard(...)\n\n");
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
  BITMAP *bitmaps[] = {page1, page2, tiles, mapbitmap};
  for (BITMAP *bitmap : bitmaps)
    if (bitmap != nullptr)
      destroy_bitmap(bitmap);
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
  mapfile = std::fopen("map.txt", "r");
  if (mapfile == nullptr) {
    allegro_message("Map failed to load!");
    return;
  }
  writeToLog("Getting first character...\n");
  int c = readMapChar();
  int x = 0;
  int y = 0;
  while (c != EOF) {
    writeToLog("First while loop\n");
    // Each row is 24 cells and a line end; the line end and rows past the last are not stored.
    if (x < mapCells && y < mapCells)
      map[x][y] = static_cast<signed char>(c);
    writeToLog("Setting map to character from map");
    c = readMapChar();
    writeToLog("Got the character...\n");
    if (x >= mapCells) {
      x = 0;
      y++;
    } else {
      x++;
    }
  }
  std::fclose(mapfile);
  mapfile = nullptr;
}

void createMap()
{
  // The library clips each copy, so an index outside the sheet paints only what lies inside it.
  for (int x = 0; x < mapCells; x++)
    for (int y = 0; y < mapCells; y++)
      blit(tiles, mapbitmap, tileSize * map[x][y], 0, tileSize * x, tileSize * y, tileSize, tileSize);
}

void randomizeMap()
{
  for (int x = 0; x < mapCells; x++)
    for (int y = 0; y < mapCells; y++)
      map[x][y] = std::rand() % 4;
}
