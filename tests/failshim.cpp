// Preloaded into the game by the tests: makes the one thing that QUARROW_FAIL
// names fail, as it would on a machine short of a device, memory or processes,
// or whose display goes away.
#include <X11/Xlib.h>
#include <allegro.h>
#include <dlfcn.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/socket.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

static bool failing(const char *name)
{
  const char *fail = std::getenv("QUARROW_FAIL");
  return fail != nullptr && std::strcmp(fail, name) == 0;
}

// The function that `name` would be without this library.
#define REAL(name) reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))

// A library call that fails when QUARROW_FAIL names it, with a reason where the library leaves its own, as its
// calls that can say why do.
#define FAILING(name, params, args)                                                                                    \
  int name params                                                                                                      \
  {                                                                                                                    \
    if (!failing(#name))                                                                                               \
      return REAL(name) args;                                                                                          \
    std::snprintf(allegro_error, ALLEGRO_ERROR_SIZE, "%s was made to fail", #name);                                    \
    return -1;                                                                                                         \
  }

extern "C" {

FAILING(set_gfx_mode, (int card, int w, int h, int v_w, int v_h), (card, w, h, v_w, v_h))
FAILING(install_sound, (int digi, int midi, const char *cfg), (digi, midi, cfg))
FAILING(install_keyboard, (void), ())

// Bitmaps fail only at the sizes the game asks for: the library makes its own too.
BITMAP *create_bitmap(int w, int h)
{
  const bool fail = (failing("create_bitmap:map") && w == 1200) || (failing("create_bitmap:page") && w == 640);
  return fail ? nullptr : REAL(create_bitmap)(w, h);
}

// What allegro_init() calls.
int _install_allegro_version_check(int system_id, int *errno_ptr, int (*atexit_ptr)(void (*)(void)), int version)
{
  return failing("allegro_init") ? -1 : REAL(_install_allegro_version_check)(system_id, errno_ptr, atexit_ptr, version);
}

// The library opens the display while it starts; "cut_display:init" cuts the connection there and then.
Display *XOpenDisplay(const char *name)
{
  Display *display = REAL(XOpenDisplay)(name);
  if (display != nullptr && failing("cut_display:init"))
    shutdown(ConnectionNumber(display), SHUT_RDWR);
  return display;
}

// "flock" finds a file system that keeps no locks, as some network shares are.
int flock(int fd, int operation)
{
  return failing("flock") ? (errno = ENOLCK, -1) : REAL(flock)(fd, operation);
}

// "pthread_create" refuses every thread, "pthread_create:2" every one after the first.
int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg)
{
  static int calls = 0;
  const bool fail = failing("pthread_create") || (failing("pthread_create:2") && ++calls > 1);
  return fail ? EAGAIN : REAL(pthread_create)(thread, attr, start, arg);
}
}

// "new" refuses the game's allocations of 64 KiB or more, as a machine short of memory would, and "new:small"
// those of 16 bytes to 64 KiB, longer than a short string keeps in itself.
void *operator new(std::size_t size)
{
  const bool fail = failing(size >= 65536 ? "new" : size >= 16 ? "new:small" : "");
  void *memory = fail ? nullptr : std::malloc(size ? size : 1);
  if (memory == nullptr)
    throw std::bad_alloc();
  return memory;
}
void operator delete(void *memory) noexcept
{
  std::free(memory);
}
void operator delete(void *memory, std::size_t) noexcept
{
  std::free(memory);
}
