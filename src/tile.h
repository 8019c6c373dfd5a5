// Quarrow's game state: every program-wide variable is declared here, once,
// beside the game shell and tile map operations that use it.
#pragma once

#include <allegro.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Window size in pixels, and its colour depth in bits per pixel.
constexpr int screenWidth = 640;
constexpr int screenHeight = 480;
constexpr int colorDepth = 32;
// The map is mapCells x mapCells tiles of tileSize x tileSize pixels.
constexpr int mapCells = 24;
constexpr int tileSize = 50;
constexpr int mapPixels = mapCells * tileSize;
// The most bytes of "map.txt" that are read: a hundred times a map with CR LF
// line ends (624 bytes), yet at three flushed log writes per character a
// file as long as this loads in about half a second.
constexpr std::size_t mapMaxBytes = 65536;
// Logic ticks per second, and how far a held arrow key moves the camera per tick.
constexpr int tickRate = 60;
constexpr int scrollStep = 3;

// Logic ticks counted by the timer callback and not yet processed by the loop.
extern std::atomic<std::int32_t> timer;
// Tile index of each cell, addressed map[column][row].
extern std::int32_t map[mapCells][mapCells];
// The tile sheet: a horizontal strip of tileSize x tileSize tiles.
extern BITMAP *tiles;
// The whole map, painted once at start-up; frames are copied out of it.
extern BITMAP *mapbitmap;
// The two screen-sized pages drawn and shown in turn.
extern BITMAP *page1, *page2;
// The page that the next frame is drawn into (page1 or page2).
extern BITMAP *activepage;
// Pixel of mapbitmap shown at the window's top-left corner. The type is named
// only so that every module can share the variable.
struct Camera {
  std::int32_t x, y;
};
extern Camera camera;
// The open log ("gamelog.txt"), or standard error when it could not be created.
extern FILE *logfile;
// The map file while loadMap reads it.
extern FILE *mapfile;

// Start-up: opens the log and brings up the library, window, bitmaps, input,
// timer and map, logging each stage.
void initGame();
// Loads the tile sheet and creates the map image.
void initGraphics();
// Blanks both pages.
void clearScreen();
// Timer callback: counts one logic tick.
void timer_i();
// Shutdown: blanks the pages, frees the bitmaps, ends the log, stops the library.
void endGame();

// Runs logic ticks and draws frames until Escape is held.
void mainLoop();
// Copies the camera's view of the map image into the active page.
void drawMap();
// Puts a finished page on display, by page flip or by copy to the screen.
void showPage(BITMAP *page);

// Moves the camera for every arrow key held.
void detectKey();
// Keeps the screen-sized view inside the map image.
void keepInBounds();

// Fills the grid from "map.txt".
void loadMap();
// Paints every cell of the grid into the map image.
void createMap();
// Fills the grid with random tile indices 0 to 3.
void randomizeMap();
