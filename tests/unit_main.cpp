// Runs the in-process tests against the real library in a real 640 x 480 window,
// as the game itself sets it up.
#include <gtest/gtest.h>

#include "tile.h"

int main(int argc, char **argv)
{
  testing::InitGoogleTest(&argc, argv);
  if (allegro_init() != 0 ||
      (set_color_depth(colorDepth),
       set_gfx_mode(GFX_AUTODETECT_WINDOWED, screenWidth, screenHeight, 0, 0)) != 0) {
    std::fprintf(stderr, "no X display for the tests: %s\n", allegro_error);
    return 1;
  }
  return RUN_ALL_TESTS();
}
