// libFuzzer target: arbitrary bytes become map.txt, then the real reader and painter run
// against the shipped tile sheet and a real map image. Needs no display.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "log.h"
#include "tile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
  if (tiles == nullptr) {
    // Once: a library without a display, the sheet at 32 bits, a scratch directory for map.txt.
    install_allegro(SYSTEM_NONE, &errno, atexit);
    set_color_depth(colorDepth);
    tiles = load_bitmap(DATA_DIR "/untitled.bmp", nullptr);
    mapbitmap = create_bitmap(mapPixels, mapPixels);
    static char dir[] = "/tmp/quarrow-fuzz-XXXXXX";
    if (tiles == nullptr || mapbitmap == nullptr || mkdtemp(dir) == nullptr || chdir(dir) != 0)
      std::abort();
    std::atexit([] { std::filesystem::remove_all(dir); });
  }
  FILE *file = std::fopen("map.txt", "wb");
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  // The traces go to memory: three flushes per character would otherwise dominate the run.
  char *text = nullptr;
  size_t length = 0;
  logfile = open_memstream(&text, &length);
  loadMap();
  createMap();
  std::fclose(logfile);
  std::free(text);
  return 0;
}
