// libFuzzer target: arbitrary bytes become a tile sheet file, which the game's checked loader reads.
// Needs no display: without a graphics mode the library keeps the sheet at its own depth.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sheet.h"

// The file that each input is written to.
static std::string path;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  install_allegro(SYSTEM_NONE, &errno, atexit);
  char name[] = "/tmp/quarrow-fuzz-XXXXXX";
  close(mkstemp(name));
  path = name;
  std::atexit([] { std::remove(path.c_str()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
  FILE *file = std::fopen(path.c_str(), "wb");
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  if (BITMAP *sheet = loadSheet(path.c_str()))
    destroy_bitmap(sheet);
  return 0;
}
