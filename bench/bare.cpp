// The game's frame written straight against Allegro, as a reference for the benchmark: the same window,
// map image and pages, a held arrow key scrolling 3 pixels per tick at 60 ticks a second, Escape to quit.
// Run in a directory holding map.txt and untitled.bmp.
#include <allegro.h>

#include <atomic>
#include <fstream>
#include <string>

// Ticks counted by the timer and not yet run.
static std::atomic<int> ticks{0};
static void tick()
{
  ticks++;
}

int main()
{
  if (allegro_init() != 0)
    return 1;
  set_color_depth(32);
  if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, 640, 480, 0, 0) != 0)
    return 1;
  set_window_title("bare");
  install_keyboard();
  install_int_ex(tick, BPS_TO_TIMER(60));

  // The map image, painted once from the sheet and the map's rows.
  BITMAP *sheet = load_bitmap("untitled.bmp", nullptr);
  BITMAP *map = create_bitmap(1200, 1200);
  BITMAP *pages[2] = {create_bitmap(640, 480), create_bitmap(640, 480)};
  if (sheet == nullptr || map == nullptr || pages[0] == nullptr || pages[1] == nullptr)
    return 1;
  std::ifstream rows("map.txt");
  std::string row;
  for (int y = 0; y < 24 && std::getline(rows, row); y++)
    for (int x = 0; x < 24 && x < static_cast<int>(row.size()); x++)
      blit(sheet, map, 50 * static_cast<signed char>(row[x]), 0, 50 * x, 50 * y, 50, 50);

  int cameraX = 0, cameraY = 0, active = 0;
  while (!key[KEY_ESC]) {
    for (; ticks > 0; ticks--) {
      cameraX += 3 * (key[KEY_RIGHT] - key[KEY_LEFT]);
      cameraY += 3 * (key[KEY_DOWN] - key[KEY_UP]);
      cameraX = cameraX < 0 ? 0 : cameraX > 560 ? 560 : cameraX;
      cameraY = cameraY < 0 ? 0 : cameraY > 720 ? 720 : cameraY;
    }
    rectfill(pages[0], 0, 0, 640, 480, makecol(0, 0, 0));
    rectfill(pages[1], 0, 0, 640, 480, makecol(0, 0, 0));
    blit(map, pages[active], cameraX, cameraY, 0, 0, 640, 480);
    blit(pages[active], screen, 0, 0, 0, 0, 640, 480);
    active = 1 - active;
  }
  for (BITMAP *bitmap : {pages[0], pages[1], map, sheet})
    destroy_bitmap(bitmap);
  allegro_exit();
  return 0;
}
END_OF_MAIN()
