// Helpers that run the real game in a scratch directory on the test's X display,
// and build what its log and window must hold from the data files alone.
#pragma once

#include <allegro.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// Last: its macros (None, Bool, Status) clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace fs = std::filesystem;

inline std::string readFile(const fs::path &path)
{
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const fs::path &path, const std::string &text)
{
  std::ofstream(path, std::ios::binary) << text;
}

// An image as 0xRRGGBB pixels, row by row.
struct Image {
  int w = 0, h = 0;
  std::vector<std::uint32_t> px;
  std::uint32_t at(int x, int y) const { return px[y * w + x]; }
};

// A new directory holding copies of the game's data files, removed afterwards.
struct Scratch {
  fs::path dir;
  Scratch()
  {
    std::string name = (fs::temp_directory_path() / "quarrow-XXXXXX").string();
    dir = mkdtemp(name.data());
    for (const char *file : {"map.txt", "untitled.bmp"})
      fs::copy_file(fs::path(DATA_DIR) / file, dir / file);
  }
  ~Scratch() { fs::remove_all(dir); }
  std::string log() const { return readFile(dir / "gamelog.txt"); }
  // What the game printed on standard output and standard error.
  std::string output() const { return readFile(dir / "output.txt"); }
};

// The game started in a directory, with "NAME=value" set and "NAME" unset in its environment.
// PATH holds no xmessage, so the library's message box is printed instead.
struct Game {
  pid_t pid;
  unsigned long win = 0;
  explicit Game(const fs::path &dir, const std::vector<std::string> &env = {})
  {
    pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0 || !std::freopen("output.txt", "w", stdout))
        _exit(126);
      dup2(STDOUT_FILENO, STDERR_FILENO);
      setenv("PATH", "/nonexistent", 1);
      for (const std::string &var : env)
        var.find('=') == std::string::npos ? unsetenv(var.c_str()) : putenv(strdup(var.c_str()));
      execl(QUARROW_EXE, "quarrow", nullptr);
      _exit(127);
    }
  }
  // The game's window, once its first frame is on screen and keys reach it (0 when none appeared).
  unsigned long window();
  // Sends xdotool commands to the game's window, after giving it the keyboard focus.
  void keys(const std::string &commands);
  // Holds Escape long enough for a frame to see it, then waits for the game to end.
  int quit()
  {
    keys("keydown Escape sleep 0.3 keyup Escape");
    return wait();
  }
  // Exit status, 128 + signal when killed, -1 when it was still running after the time limit.
  int wait(int seconds = 60)
  {
    for (int i = 0; i < seconds * 100; i++, usleep(10000)) {
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
};

// Texts of the log that do not depend on the map file.
const std::string banner = std::string("-Quarrow---------------------Version: 0.1, Started: July "
                                       "22nd, 2006Created by: Pelmark--------------------"
                                       "Initalizating the Allegro Library") +
                           allegro_id + "\n";
const std::string gfxLines = "Initalizing Graphics Mode\n640 X 480 X 32 bit\n";
const std::string soundLine = "Initalizing Sound System...\n";
const std::string partsLine = "Installing game componets...\n";
const std::string shutdownLines = "Quitting game...\n\nGame closed successfully!\n--- End Log ---";

// The log of a run that reads a map file of `chars` characters (none: no map file at all).
inline std::string normalLog(long chars)
{
  std::string log = banner + gfxLines + soundLine + partsLine + "Opening Map File...\n";
  if (chars >= 0)
    log += "Getting first character...\n";
  for (long i = 0; i < chars; i++)
    log += "First while loop\nSetting map to character from mapGot the character...\n";
  return log + "Loaded MapCreated Map" + shutdownLines;
}

// Runs xdotool with these arguments (never longer than 20 s) and returns what it printed.
inline std::string xdotool(const std::string &args)
{
  std::string out;
  if (FILE *pipe = popen(("timeout 20 xdotool " + args).c_str(), "r")) {
    for (int c; (c = std::fgetc(pipe)) != EOF;)
      out += static_cast<char>(c);
    pclose(pipe);
  }
  return out;
}

inline Image grab(unsigned long window);

inline unsigned long Game::window()
{
  if (win != 0)
    return win;
  win =
      std::strtoul(xdotool("search --sync --onlyvisible --name '^Quarrow$'").c_str(), nullptr, 10);
  // The window opens before the keyboard is installed; the first frame comes after it.
  auto blank = [this] {
    const Image shot = grab(win);
    return shot.px.empty() || shot.at(0, 0) == 0;
  };
  for (int i = 0; win != 0 && i < 100 && blank(); i++)
    usleep(100000);
  return win;
}

inline void Game::keys(const std::string &commands)
{
  xdotool("windowfocus --sync " + std::to_string(window()) + " " + commands);
}

// An uncompressed 24-bit BMP file, read without the library.
inline Image readBmp(const fs::path &path)
{
  const std::string file = readFile(path);
  auto field = [&](int at) { return *reinterpret_cast<const std::int32_t *>(&file[at]); };
  Image img{field(18), field(22), {}};
  const int stride = (img.w * 3 + 3) & ~3;
  for (int y = 0; y < img.h; y++)
    for (int x = 0; x < img.w; x++) {
      auto *p = reinterpret_cast<const unsigned char *>(
          &file[field(10) + (img.h - 1 - y) * stride + x * 3]);
      img.px.push_back(p[2] << 16 | p[1] << 8 | p[0]);
    }
  return img;
}

// The 1200 x 1200 map image that map text of 24 full lines gives with a directory's tile sheet.
inline Image composeMap(const fs::path &dir, const std::string &text)
{
  const Image sheet = readBmp(dir / "untitled.bmp");
  Image out{1200, 1200, std::vector<std::uint32_t>(1200 * 1200)};
  for (int y = 0; y < 1200; y++)
    for (int x = 0; x < 1200; x++)
      out.px[y * 1200 + x] =
          sheet.at(50 * static_cast<signed char>(text[y / 50 * 25 + x / 50]) + x % 50, y % 50);
  return out;
}

inline Image grab(unsigned long window)
{
  Image img{640, 480, {}};
  Display *display = XOpenDisplay(nullptr);
  if (XImage *shot = XGetImage(display, window, 0, 0, 640, 480, AllPlanes, ZPixmap)) {
    for (int y = 0; y < 480; y++)
      for (int x = 0; x < 640; x++)
        img.px.push_back(XGetPixel(shot, x, y) & 0xFFFFFF);
    XDestroyImage(shot);
  }
  XCloseDisplay(display);
  return img;
}

// Whether a window grab is the map image's 640 x 480 view from (cx, cy).
inline bool shows(const Image &view, const Image &map, int cx, int cy)
{
  for (int y = 0; y < 480; y++)
    for (int x = 0; x < 640; x++)
      if (view.px.empty() || view.at(x, y) != map.at(cx + x, cy + y))
        return false;
  return true;
}

// The camera position whose view the grab is, or (-1, -1).
inline std::pair<int, int> findCamera(const Image &view, const Image &map)
{
  for (int cy = 0; cy <= 720; cy++)
    for (int cx = 0; cx <= 560; cx++)
      if (shows(view, map, cx, cy))
        return {cx, cy};
  return {-1, -1};
}

// Waits up to five seconds for the window to show the view from (cx, cy).
inline bool showsSoon(unsigned long window, const Image &map, int cx, int cy)
{
  for (int i = 0; i < 50; i++, usleep(100000))
    if (shows(grab(window), map, cx, cy))
      return true;
  return false;
}
