// Quarrow's benchmark: the unmodified game measured from outside, beside two references on the same
// virtual display in the same run, interleaved in rounds: `bare`, the same frame written straight
// against Allegro, and `sdl`, the same scroller in SDL2 with its software and its default (OpenGL)
// renderer. A preloaded library (frames.c) stamps every page a program shows. Each program starts,
// scrolls with Down held for four seconds and quits on Escape. Prints "name: min / median / max" lines
// (over the rounds) and writes the frame times and their plot into the directory given.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "harness.h"

namespace {

struct Program {
  std::string name;
  std::vector<std::string> argv, env;
};

// What one run of one program gave.
struct Run {
  double startupMs = 0, rssMb = 0, fps = 0, ticksPerSecond = 0;
  std::vector<double> frameUs;
};

constexpr int rounds = 5;
constexpr double hold = 4.0;    // seconds Down is held: the view reaches the map's bottom after 4
constexpr double settle = 0.25; // seconds after the press before anything is counted
constexpr int grabs = 8;        // frames read back while Down is held, half a second apart

double seconds(Clock::time_point from, Clock::time_point to = Clock::now())
{
  return std::chrono::duration<double>(to - from).count();
}

long long monotonicNs(Clock::time_point at)
{
  return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

// How many pixels `later` is scrolled down from `earlier`, or -1 if it is not the same view moved down.
int scrolled(const std::string &earlier, const std::string &later)
{
  for (int dy = 0; dy < 240 && earlier.size() == later.size() && !later.empty(); dy++)
    if (!earlier.compare(dy * 1920, (480 - dy) * 1920, later, 0, (480 - dy) * 1920))
      return dy;
  return -1;
}

Run measure(const Program &program)
{
  Run result;
  std::vector<std::string> env = preload(FRAMES_LIB);
  env.insert(env.end(), program.env.begin(), program.env.end());
  env.push_back("QUARROW_FRAMES=stamps");
  Process measured(program.argv, env);
  // Started: the window shows its first painted (not black) frame. A window that cannot be read has
  // been replaced (SDL makes a new one for an OpenGL renderer).
  Window window = 0;
  std::string pixel;
  until(
      30,
      [&] {
        window = pixel.empty() ? windowOf(measured.pid) : window;
        pixel = grab(window, 1, 1);
        return pixel.size() == 3 && pixel != std::string(3, '\0');
      },
      std::chrono::microseconds(500));
  result.startupMs = seconds(measured.started) * 1000;
  if (result.startupMs > 29000)
    std::fprintf(stderr, "%s showed no frame (window %lu):\n%s\n", program.name.c_str(), window,
                 measured.printed().c_str());

  Process::keys(window, "keydown Down");
  const auto pressed = Clock::now();
  // Frames read back while the key is held, for every program alike; the game's give its tick rate.
  std::vector<std::pair<double, std::string>> frames;
  for (int i = 0; i < grabs; i++) {
    std::this_thread::sleep_until(pressed + std::chrono::duration<double>(settle + 0.5 * i));
    const auto before = Clock::now();
    const std::string frame = grab(window);
    frames.emplace_back((seconds(pressed, before) + seconds(pressed)) / 2, frame);
  }
  std::this_thread::sleep_until(pressed + std::chrono::duration<double>(hold));
  const auto released = Clock::now();
  Process::keys(window, "keyup Down keydown Escape sleep 0.3 keyup Escape");
  rusage usage{};
  if (measured.wait(20, &usage) < 0)
    std::fprintf(stderr, "%s did not end on Escape\n", program.name.c_str());
  result.rssMb = usage.ru_maxrss / 1024.0;

  int moved = 0;
  for (int i = 1; i < grabs && moved >= 0; i++) {
    const int dy = scrolled(frames[i - 1].second, frames[i].second);
    moved = dy < 0 ? -1 : moved + dy;
  }
  result.ticksPerSecond = moved < 0 ? 0 : moved / 3.0 / (frames.back().first - frames.front().first);

  // Frames shown from `settle` after the press until the release.
  std::ifstream in(measured.dir / "stamps");
  const long long from = monotonicNs(pressed) + static_cast<long long>(settle * 1e9), to = monotonicNs(released);
  long long previous = 0;
  int count = 0;
  for (long long stamp; in >> stamp; previous = stamp)
    if (stamp >= from && stamp <= to) {
      count++;
      if (previous >= from)
        result.frameUs.push_back((stamp - previous) / 1e3);
    }
  result.fps = count / ((to - from) / 1e9);
  return result;
}

// "min / median / max" of some values.
std::string spread(std::vector<double> values, const char *format = "%.1f")
{
  std::sort(values.begin(), values.end());
  char text[128];
  const std::string three = std::string(format) + " / " + format + " / " + format;
  std::snprintf(text, sizeof text, three.c_str(), values.front(), values[values.size() / 2], values.back());
  return text;
}

} // namespace

int main(int argc, char **argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
    return 2;
  }
  const fs::path out = fs::absolute(argv[1]);
  fs::create_directories(out);

  const std::vector<Program> programs = {{"game", {QUARROW_EXE}, {}},
                                         {"bare", {BARE_EXE}, {}},
                                         {"sdl_software", {SDL_EXE}, {"SDL_RENDER_DRIVER=software"}},
                                         {"sdl_opengl", {SDL_EXE}, {"SDL_RENDER_DRIVER=opengl"}}};
  std::map<std::string, std::vector<Run>> runs;
  for (int round = 0; round < rounds; round++)
    for (size_t i = 0; i < programs.size(); i++) {
      const Program &program = programs[(i + round) % programs.size()];
      runs[program.name].push_back(measure(program));
    }

  auto figure = [&](const std::string &name, auto value, const char *format = "%.1f") {
    std::vector<double> values;
    for (int round = 0; round < rounds; round++)
      values.push_back(value(round));
    std::printf("%s: %s\n", name.c_str(), spread(values, format).c_str());
  };
  std::printf("rounds: %d\n", rounds);
  for (const Program &program : programs) {
    const std::vector<Run> &of = runs[program.name];
    figure(
        program.name + "_fps", [&](int r) { return of[r].fps; }, "%.0f");
    figure(program.name + "_frame_us", [&](int r) { return 1e6 / of[r].fps; });
    figure(program.name + "_startup_ms", [&](int r) { return of[r].startupMs; });
    figure(program.name + "_peak_rss_mb", [&](int r) { return of[r].rssMb; });
    std::ofstream times(out / (program.name + ".frame_us"));
    for (const Run &run : of)
      for (double us : run.frameUs)
        times << us << "\n";
  }
  for (const char *peer : {"bare", "sdl_software", "sdl_opengl"})
    figure(
        std::string("frame_us_game_over_") + peer, [&](int r) { return runs[peer][r].fps / runs["game"][r].fps; },
        "%.3f");
  figure(
      "game_ticks_per_s", [&](int r) { return runs["game"][r].ticksPerSecond; }, "%.2f");

  std::fputs(run({"gnuplot", "-e", "dir='" + out.string() + "'", PLOT_SCRIPT}, 120).c_str(), stderr);
  std::printf("plot: %s\n", (out / "frame_times.png").c_str());
  return 0;
}
