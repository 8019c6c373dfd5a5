// The game as the end-to-end tests drive it: started in a scratch directory of its own with the shipped data
// files, on the test process's virtual display, and what it must log and show worked out from the data alone.
#pragma once

#include <allegro.h>
#include <gtest/gtest.h>

#include "harness.h"

// The game, started in a new directory holding the shipped data files once the shell command `setup`
// has run there, with the standard descriptor `closed` closed if one is given. Its PATH has no xmessage
// unless `env` sets one, so the library prints its message box instead of waiting.
struct Game {
  fs::path dir;
  pid_t pid = -1;
  Window window = 0;
  int status = -1;
  explicit Game(const std::string &setup = ":", std::vector<std::string> env = {},
                std::vector<std::string> argv = {QUARROW_EXE}, int closed = -1)
  {
    xDisplay(); // first: should it fail, no directory is left behind
    char name[] = "/tmp/quarrow-XXXXXX";
    dir = mkdtemp(name);
    for (const char *file : {"map.txt", "untitled.bmp"})
      fs::copy_file(fs::path(DATA_DIR) / file, dir / file);
    EXPECT_EQ(finish(spawn({"timeout", "30", "sh", "-c", setup}, {"FILES=" FILES_DIR}, dir), 40), 0) << setup;
    env.insert(env.begin(), "PATH=/nonexistent");
    pid = spawn(argv, env, dir, dir / "output.txt", -1, closed);
    // Should the test itself die, a game left behind ends when it has used five minutes of processor.
    const rlimit cpu = {300, 300};
    prlimit(pid, RLIMIT_CPU, &cpu, nullptr);
  }
  ~Game()
  {
    if (wait(0) < 0) {
      kill(pid, SIGKILL);
      finish(pid, 10);
    }
    fs::remove_all(dir);
  }
  std::string read(const char *file) const { return slurp(dir / file); }
  // The window, once the map is painted and the loop about to run (keys reach the game only from then on);
  // 0 when that has not happened within `seconds` or the game has ended.
  Window ready(double seconds = 30)
  {
    for (const auto end = Clock::now() + std::chrono::duration<double>(seconds); !window && Clock::now() < end;) {
      if (wait(0) >= 0)
        break;
      if ((read("gamelog.txt") + read("output.txt")).find("Created Map") != std::string::npos)
        window = windowOf(pid);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return window;
  }
  std::string frame() { return grab(ready()); }
  // Runs an xdotool command chain with the game's window focused first.
  void keys(const std::string &chain)
  {
    std::vector<std::string> argv = {"xdotool", "windowfocus", "--sync", std::to_string(ready())};
    std::istringstream words(chain);
    for (std::string word; words >> word;)
      argv.push_back(word);
    run(argv);
  }
  // The exit status after at most `seconds` (128 + signal when a signal ended it), or -1.
  int wait(double seconds = 60)
  {
    if (status < 0)
      status = finish(pid, seconds);
    return status;
  }
  // Holds Escape until the game ends, a few times if need be.
  int quit()
  {
    for (int i = 0; i < 5 && wait(0) < 0 && ready(); i++)
      keys("keydown Escape sleep 0.3 keyup Escape"), wait(5);
    return wait();
  }
};

inline const std::string banner =
    std::string("-Quarrow---------------------Version: 0.1, Started: July 22nd, 2006Created by: "
                "Pelmark--------------------Initalizating the Allegro Library") +
    allegro_id + "\n";
inline const std::string gfxLines = banner + "Initalizing Graphics Mode\n640 X 480 X 32 bit\n";
inline const std::string soundLines = gfxLines + "Initalizing Sound System...\n";
inline const std::string partsLines = soundLines + "Installing game componets...\n";
inline const std::string shutdownLines = "Quitting game...\n\nGame closed successfully!\n--- End Log ---";
inline const std::string dataMap = slurp(DATA_DIR "/map.txt");

// The log of a normal run whose map file has `chars` characters (-1: no map file), up to the end of start-up.
inline std::string startLog(long chars)
{
  std::string log = partsLines + "Opening Map File...\n" + (chars >= 0 ? "Getting first character...\n" : "");
  for (long i = 0; i < chars; i++)
    log += "First while loop\nSetting map to character from mapGot the character...\n";
  return log + "Loaded MapCreated Map";
}

// A tile sheet decoded by ImageMagick: its width, and its pixels as RGB bytes with the top row first.
struct Sheet {
  int width = 0;
  std::string rgb;
};
inline Sheet decode(const std::string &bmp)
{
  std::istringstream ppm(run({"convert", bmp, "-depth", "8", "ppm:-"}));
  std::string magic;
  int width = 0, height, depth;
  ppm >> magic >> width >> height >> depth;
  ppm.get();
  return {width, std::string(std::istreambuf_iterator<char>(ppm), {})};
}

// The 1200 x 1200 map image, as RGB bytes, that the game must paint from a sheet and map text as its reader
// takes it: position y * 25 + x is cell (x, y), cells that the text does not reach are tile 0, each byte is a
// signed tile index, and the part of a tile that lies outside the sheet stays black.
inline std::string composeMap(const std::string &text, const Sheet &sheet)
{
  std::string image(1200 * 1200 * 3, '\0');
  const long height = sheet.width ? static_cast<long>(sheet.rgb.size()) / (sheet.width * 3) : 0;
  for (int y = 0; y < 1200; y++)
    for (int x = 0; x < 1200; x++) {
      const size_t at = y / 50 * 25 + x / 50;
      const long tile = at < text.size() ? static_cast<signed char>(text[at]) : 0, from = tile * 50 + x % 50;
      if (from >= 0 && from < sheet.width && y % 50 < height)
        image.replace((y * 1200 + x) * 3, 3, sheet.rgb, ((y % 50) * sheet.width + from) * 3, 3);
    }
  return image;
}

// Whether a frame is the map image's view from (x, y).
inline bool shows(const std::string &frame, const std::string &map, int x, int y)
{
  for (int row = 0; row < 480; row++)
    if (frame.size() != 640 * 480 * 3 || frame.compare(row * 1920, 1920, map, ((y + row) * 1200 + x) * 3, 1920))
      return false;
  return true;
}

// Where within `radius` of (x, y) a frame shows the map image from; {-1, -1} if nowhere.
inline std::pair<int, int> locate(const std::string &frame, const std::string &map, int x, int y, int radius)
{
  for (int dy = -radius; dy <= radius; dy++)
    for (int dx = -radius; dx <= radius; dx++)
      if (x + dx >= 0 && x + dx <= 560 && y + dy >= 0 && y + dy <= 720 && shows(frame, map, x + dx, y + dy))
        return {x + dx, y + dy};
  return {-1, -1};
}

// Waits up to five seconds for the window to show the view from (x, y).
inline bool showsSoon(Game &game, const std::string &map, int x, int y)
{
  for (int i = 0; i < 50 && !shows(game.frame(), map, x, y); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return shows(game.frame(), map, x, y);
}
