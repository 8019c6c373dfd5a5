// libFuzzer target: arbitrary bytes as a tile sheet file, through the check and, where it accepts them, the
// library's reader. Needs no display: the library runs with no system driver.
#include <cerrno>
#include <cstdlib>

#include "sheet.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
  install_allegro(SYSTEM_NONE, &errno, atexit);
  set_color_depth(32);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
  std::vector<std::uint8_t> checked;
  if (checkSheet(std::vector<std::uint8_t>(data, data + size), checked).empty())
    if (BITMAP *sheet = decodeSheet(checked))
      destroy_bitmap(sheet);
  return 0;
}
