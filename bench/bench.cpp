// Quarrow's benchmark, run by hand on an X display (tools/bench.sh starts one).
// Prints one "name: value" line per figure:
//   startup_ms     median time from exec of the real game to its first frame on screen
//   peak_rss_mb    median peak resident memory of those runs
//   frame_us       time per frame of the game's own drawing (clearScreen, drawMap, showPage)
//   bare_frame_us  the same work written straight against Allegro, in the same window
//   frame_ratio    frame_us / bare_frame_us
//   ticks_per_s    logic ticks the real loop processes per second while an arrow key is held
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tile.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Seconds since a time point.
static double since(Clock::time_point start)
{
  return std::chrono::duration<double>(Clock::now() - start).count();
}

static double median(std::vector<double> values)
{
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// A new directory holding copies of the data files.
static fs::path scratchDir()
{
  std::string name = (fs::temp_directory_path() / "quarrow-bench-XXXXXX").string();
  fs::path dir = mkdtemp(name.data());
  for (const char *file : {"map.txt", "untitled.bmp"})
    fs::copy_file(fs::path(DATA_DIR) / file, dir / file);
  return dir;
}

// The top-level window titled "Quarrow", or 0.
static Window findWindow(Display *display)
{
  Window root, parent, *children = nullptr, found = 0;
  unsigned count = 0;
  XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
  for (unsigned i = 0; i < count && found == 0; i++) {
    char *name = nullptr;
    if (XFetchName(display, children[i], &name) && name != nullptr && !std::strcmp(name, "Quarrow"))
      found = children[i];
    XFree(name);
  }
  XFree(children);
  return found;
}

// Whether the window's top-left pixel has been drawn (the pages start black).
static bool drawn(Display *display, Window window)
{
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
    return false;
  XImage *pixel = XGetImage(display, window, 0, 0, 1, 1, AllPlanes, ZPixmap);
  const bool lit = pixel != nullptr && (XGetPixel(pixel, 0, 0) & 0xFFFFFF) != 0;
  if (pixel != nullptr)
    XDestroyImage(pixel);
  return lit;
}

// Starts the real game, times exec to first frame, quits it with Escape; returns the peak RSS in
// MiB.
static double timeStartup(Display *display, double &ms)
{
  const fs::path dir = scratchDir();
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) == 0 && freopen("/dev/null", "w", stderr))
      execl(QUARROW_EXE, "quarrow", nullptr);
    _exit(127);
  }
  Window window = 0;
  while (since(start) < 20 && !(window != 0 && drawn(display, window))) {
    window = window != 0 ? window : findWindow(display);
    usleep(500);
  }
  ms = since(start) * 1000;
  const std::string quit =
      "xdotool windowfocus --sync " + std::to_string(window) + " keydown Escape sleep 0.3 keyup Escape";
  if (std::system(quit.c_str()) != 0)
    kill(pid, SIGKILL);
  int status;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  fs::remove_all(dir);
  return usage.ru_maxrss / 1024.0;
}

// Median microseconds per frame of `frame` and of `bare`, interleaved in rounds.
static void timeFrames(void (*frame)(), void (*bare)(), double &frameUs, double &bareUs)
{
  std::vector<double> game, plain;
  const int frames = 300;
  for (int round = 0; round < 21; round++) {
    for (int pass = 0; pass < 2; pass++) {
      const bool gameFirst = round % 2 == 0;
      void (*run)() = (pass == 0) == gameFirst ? frame : bare;
      const Clock::time_point start = Clock::now();
      for (int i = 0; i < frames; i++)
        run();
      ((run == frame) ? game : plain).push_back(since(start) * 1e6 / frames);
    }
  }
  frameUs = median(game);
  bareUs = median(plain);
}

// The drawing half of one pass of the game's loop, through the game's own functions.
static void gameFrame()
{
  clearScreen();
  drawMap();
  showPage(activepage);
  activepage = (activepage == page1) ? page2 : page1;
}

// The same frame written straight against Allegro, with pages of its own.
static BITMAP *barePages[2];
static int bareActive = 0;
static void bareFrame()
{
  for (BITMAP *page : barePages)
    rectfill(page, 0, 0, page->w, page->h, makecol(0, 0, 0));
  blit(mapbitmap, barePages[bareActive], camera.x, camera.y, 0, 0, mapbitmap->w, mapbitmap->h);
  blit(barePages[bareActive], screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
  bareActive = 1 - bareActive;
}

// Holds Down, then Up, for 2.5 s each while the real loop runs, and reads the camera's
// movement in the middle 2 s of each: 3 pixels per processed tick.
static double measureTicks()
{
  auto y = [] { return __atomic_load_n(&camera.y, __ATOMIC_RELAXED); };
  double ticks = 0, seconds = 0;
  const std::string focus = "xdotool search --sync --name '^Quarrow$' windowfocus --sync ";
  for (const char *direction : {"Down", "Up"}) {
    std::system((focus + "keydown " + direction).c_str());
    const Clock::time_point pressed = Clock::now();
    std::this_thread::sleep_until(pressed + std::chrono::milliseconds(250));
    const int first = y();
    const Clock::time_point from = Clock::now();
    std::this_thread::sleep_until(pressed + std::chrono::milliseconds(2250));
    ticks += std::abs(y() - first) / double(scrollStep);
    seconds += since(from);
    std::this_thread::sleep_until(pressed + std::chrono::milliseconds(2500));
    std::system((std::string("xdotool keyup ") + direction).c_str());
  }
  std::system((focus + "keydown Escape sleep 0.3 keyup Escape").c_str());
  return ticks / seconds;
}

int main()
{
  Display *display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "no X display: run tools/bench.sh\n");
    return 1;
  }
  std::vector<double> startups, rss;
  for (int run = 0; run < 7; run++) {
    double ms;
    rss.push_back(timeStartup(display, ms));
    startups.push_back(ms);
  }
  std::printf("startup_ms: %.1f\npeak_rss_mb: %.1f\n", median(startups), median(rss));

  // The game itself, started in process in a scratch directory.
  const fs::path dir = scratchDir();
  fs::current_path(dir);
  std::freopen("/dev/null", "w", stderr);
  initGame();
  barePages[0] = create_bitmap(SCREEN_W, SCREEN_H);
  barePages[1] = create_bitmap(SCREEN_W, SCREEN_H);
  double frameUs, bareUs;
  timeFrames(gameFrame, bareFrame, frameUs, bareUs);
  std::printf("frame_us: %.1f\nbare_frame_us: %.1f\nframe_ratio: %.3f\n", frameUs, bareUs, frameUs / bareUs);
  std::fflush(stdout);

  double ticksPerSecond = 0;
  std::thread keys([&] { ticksPerSecond = measureTicks(); });
  mainLoop();
  keys.join();
  std::printf("ticks_per_s: %.2f\n", ticksPerSecond);
  destroy_bitmap(barePages[0]);
  destroy_bitmap(barePages[1]);
  endGame();
  fs::remove_all(dir);
  XCloseDisplay(display);
  return 0;
}
