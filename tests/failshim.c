/* Preloaded into the game by the tests: makes the one library call that
   QUARROW_FAIL names fail, as it would on a machine without that device. */
#define _GNU_SOURCE
#include <allegro.h>
#include <dlfcn.h>
#include <string.h>

/* Calls the library's own function of that name. */
#define REAL(type, name, ...) ((type)dlsym(RTLD_NEXT, #name))(__VA_ARGS__)

static int failing(const char *name)
{
  const char *fail = getenv("QUARROW_FAIL");
  return fail != NULL && strcmp(fail, name) == 0;
}

/* Bitmaps fail only at the sizes the game asks for itself: the library makes its own too. */
BITMAP *create_bitmap(int w, int h)
{
  if ((failing("create_bitmap:map") && w == 1200) || (failing("create_bitmap:page") && w == 640))
    return NULL;
  return REAL(BITMAP * (*)(int, int), create_bitmap, w, h);
}

int set_gfx_mode(int card, int w, int h, int v_w, int v_h)
{
  return failing("set_gfx_mode")
             ? -1
             : REAL(int (*)(int, int, int, int, int), set_gfx_mode, card, w, h, v_w, v_h);
}

int install_sound(int digi, int midi, const char *cfg)
{
  return failing("install_sound")
             ? -1
             : REAL(int (*)(int, int, const char *), install_sound, digi, midi, cfg);
}

int install_keyboard(void)
{
  return failing("install_keyboard") ? -1 : REAL(int (*)(void), install_keyboard);
}
