// Preloaded into the game by the tests: makes the one library call that
// QUARROW_FAIL names fail, as it would on a machine without that device.
#define _GNU_SOURCE
#include <allegro.h>
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#define FAILING(name) (getenv("QUARROW_FAIL") != NULL && strcmp(getenv("QUARROW_FAIL"), name) == 0)
// Fails a call with a reason where the library leaves its own, as its calls that can say why do.
static int because(const char *name)
{
  snprintf(allegro_error, ALLEGRO_ERROR_SIZE, "%s was made to fail", name);
  return -1;
}

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, #name))

int set_gfx_mode(int card, int w, int h, int v_w, int v_h)
{
  return FAILING("set_gfx_mode") ? because("set_gfx_mode")
                                 : REAL(set_gfx_mode, int (*)(int, int, int, int, int))(card, w, h, v_w, v_h);
}

int install_sound(int digi, int midi, const char *cfg)
{
  return FAILING("install_sound") ? because("install_sound")
                                  : REAL(install_sound, int (*)(int, int, const char *))(digi, midi, cfg);
}

int install_keyboard(void)
{
  return FAILING("install_keyboard") ? because("install_keyboard") : REAL(install_keyboard, int (*)(void))();
}

// Bitmaps fail only at the sizes the game asks for: the library makes its own too.
BITMAP *create_bitmap(int w, int h)
{
  if ((FAILING("create_bitmap:map") && w == 1200) || (FAILING("create_bitmap:page") && w == 640))
    return NULL;
  return REAL(create_bitmap, BITMAP * (*)(int, int))(w, h);
}

// What allegro_init() calls.
int _install_allegro_version_check(int system_id, int *errno_ptr, int (*atexit_ptr)(void (*)(void)), int version)
{
  return FAILING("allegro_init")
             ? -1
             : REAL(_install_allegro_version_check,
                    int (*)(int, int *, int (*)(void (*)(void)), int))(system_id, errno_ptr, atexit_ptr, version);
}

// A request to stop that comes while the library starts: it loads its driver modules then.
void *dlopen(const char *file, int mode)
{
  if (FAILING("term_during_init") && file != NULL && strstr(file, "/alleg-") != NULL)
    raise(SIGTERM);
  return REAL(dlopen, void *(*)(const char *, int))(file, mode);
}
