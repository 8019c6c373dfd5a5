// Preloaded into a program to time its frames from outside: every page shown to the screen (an
// Allegro blit to `screen` or page flip, an SDL2 RenderPresent) is stamped, and the stamps are written
// to the file that QUARROW_FRAMES names when the program exits. Nothing is allocated per frame.
#define _GNU_SOURCE
#include <SDL2/SDL.h>
#include <allegro.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define MAX_FRAMES (1 << 21)

// Nanoseconds on the monotonic clock at which each frame was shown, and how many there were.
static long long stamps[MAX_FRAMES];
static int frames;

static void stamp(void)
{
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (frames < MAX_FRAMES)
    stamps[frames++] = now.tv_sec * 1000000000LL + now.tv_nsec;
}

void blit(BITMAP *source, BITMAP *dest, int sx, int sy, int dx, int dy, int w, int h)
{
  static void (*real)(BITMAP *, BITMAP *, int, int, int, int, int, int);
  static BITMAP **screen_variable;
  if (real == NULL) {
    real = (void (*)(BITMAP *, BITMAP *, int, int, int, int, int, int))dlsym(RTLD_NEXT, "blit");
    screen_variable = (BITMAP **)dlsym(RTLD_DEFAULT, "screen");
  }
  real(source, dest, sx, sy, dx, dy, w, h);
  if (screen_variable != NULL && dest == *screen_variable)
    stamp();
}

int show_video_bitmap(BITMAP *bitmap)
{
  int shown = ((int (*)(BITMAP *))dlsym(RTLD_NEXT, "show_video_bitmap"))(bitmap);
  stamp();
  return shown;
}

void SDL_RenderPresent(SDL_Renderer *renderer)
{
  static void (*real)(SDL_Renderer *);
  if (real == NULL)
    real = (void (*)(SDL_Renderer *))dlsym(RTLD_NEXT, "SDL_RenderPresent");
  real(renderer);
  stamp();
}

__attribute__((destructor)) static void report(void)
{
  FILE *out = getenv("QUARROW_FRAMES") ? fopen(getenv("QUARROW_FRAMES"), "w") : NULL;
  for (int i = 0; out != NULL && i < frames; i++)
    fprintf(out, "%lld\n", stamps[i]);
  if (out != NULL)
    fclose(out);
}
