// The camera and the frame loop in process: clamps, key handling, how many
// logic steps a pass runs and which page each frame lands in.
#include <thread>

#include "tile.h"
#include <gtest/gtest.h>

namespace {

// A map image whose every pixel differs from its neighbours, and two memory pages.
struct Frames {
  Frames()
  {
    mapbitmap = create_bitmap(mapPixels, mapPixels);
    for (int y = 0; y < mapPixels; y++)
      for (int x = 0; x < mapPixels; x++)
        putpixel(mapbitmap, x, y, makecol(x % 256, y % 256, x / 256 * 40 + y / 256));
    page1 = create_bitmap(SCREEN_W, SCREEN_H);
    page2 = create_bitmap(SCREEN_W, SCREEN_H);
    activepage = page2;
    camera.x = camera.y = 0;
    for (int k : {KEY_ESC, KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT})
      key[k] = 0;
    clear_keybuf();
  }
  ~Frames()
  {
    for (BITMAP *bitmap : {page1, page2, mapbitmap})
      destroy_bitmap(bitmap);
    page1 = page2 = activepage = mapbitmap = nullptr;
  }
  // Whether a page holds the map image's view from (cx, cy).
  static bool holds(BITMAP *page, int cx, int cy)
  {
    for (int y = 0; y < SCREEN_H; y++)
      for (int x = 0; x < SCREEN_W; x++)
        if (getpixel(page, x, y) != getpixel(mapbitmap, cx + x, cy + y))
          return false;
    return true;
  }
};

} // namespace

TEST(Camera, KeysMoveThreePixelsATickAndTheViewStaysInsideTheMap)
{
  Frames frames;
  struct Case {
    int x, y;
    std::vector<int> held;
    int wantX, wantY;
  } cases[] = {
      {2, 5, {KEY_LEFT}, 0, 5},
      {559, 5, {KEY_RIGHT}, 560, 5},
      {560, 720, {}, 560, 720},
      {5, 719, {KEY_DOWN}, 5, 720},
      {100, 4, {KEY_UP}, 100, 1},
      {100, 100, {KEY_UP, KEY_DOWN}, 100, 100},
      {100, 100, {KEY_LEFT, KEY_RIGHT, KEY_DOWN}, 100, 103},
      {-50, 5000, {}, 0, 720},
  };
  for (const Case &c : cases) {
    for (int k : c.held)
      key[k] = 1;
    camera.x = c.x;
    camera.y = c.y;
    detectKey();
    keepInBounds();
    EXPECT_EQ(camera.x, c.wantX) << c.x << "," << c.y;
    EXPECT_EQ(camera.y, c.wantY) << c.x << "," << c.y;
    for (int k : c.held)
      key[k] = 0;
  }
}

TEST(FrameLoop, EscapeHeldOnEntryProcessesNothingAndDrawsNothing)
{
  Frames frames;
  clear_to_color(page1, makecol(1, 2, 3));
  clear_to_color(page2, makecol(1, 2, 3));
  key[KEY_ESC] = 1;
  key[KEY_RIGHT] = 1;
  simulate_keypress(KEY_RIGHT << 8);
  timer = 5;
  mainLoop();
  EXPECT_EQ(timer, 5);
  EXPECT_EQ(camera.x, 0);
  EXPECT_EQ(activepage, page2);
  EXPECT_EQ(getpixel(page2, 10, 10), makecol(1, 2, 3));
  EXPECT_EQ(getpixel(page1, 10, 10), makecol(1, 2, 3));
}

TEST(FrameLoop, PendingTicksAreAllProcessedBeforeAFrameAndPagesAlternate)
{
  Frames frames;
  // No tick arrives here but these five: the game's timer is not installed.
  timer = 5;
  key[KEY_RIGHT] = 1;
  simulate_keypress(KEY_RIGHT << 8);
  // Escape is pressed once the first frame has been drawn into page2 and the pages swapped.
  std::thread escape([] {
    while (__atomic_load_n(&activepage, __ATOMIC_ACQUIRE) != page1)
      std::this_thread::yield();
    key[KEY_ESC] = 1;
  });
  mainLoop();
  escape.join();
  EXPECT_EQ(timer, 0);
  EXPECT_EQ(camera.x, 5 * scrollStep);
  // The last frame is on the page that was active before the final swap; the other is blank.
  BITMAP *drawn = activepage == page1 ? page2 : page1;
  EXPECT_TRUE(Frames::holds(drawn, 15, 0));
  EXPECT_EQ(getpixel(activepage, 0, 0), makecol(0, 0, 0));
  EXPECT_EQ(getpixel(screen, 320, 240), getpixel(mapbitmap, 335, 240));
}
