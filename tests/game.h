// The game as the end-to-end tests drive it: started in a scratch directory of its own with the shipped data
// files, on the test process's virtual display, as the native game or (where QUARROW_WINDOWS is set) as
// quarrow.exe under Wine; and what it must log and show, worked out from the data files alone.
#pragma once

#include <allegro.h>
#include <gtest/gtest.h>

#include <regex>

#include "bmp.h"

// A command line, or changes to an environment ("NAME=value" sets, "-NAME" unsets).
using Args = std::vector<std::string>;

// Whether the game under test is the Windows build, run under Wine.
constexpr bool windows = QUARROW_WINDOWS;

// Wine quiet, its optional installers (.NET, HTML) never offered, and its prefix, kept in the Windows build folder.
inline const std::string winePrefix = WINDOWS_DIR "/wine-prefix";
// A command run under Wine, with the tests' settings. Wine traces the text of each message box into the output,
// where boxText reads it.
inline Args underWine(Args argv)
{
  argv.insert(argv.begin(), {"env", "WINEPREFIX=" + winePrefix, "WINEDEBUG=-all,trace+msgbox",
                             "WINEDLLOVERRIDES=mscoree,mshtml=", "WINESERVER=" WINESERVER});
  return argv;
}
// The game's command line on its system.
inline const Args gameCommand = windows ? underWine({"wine", "./quarrow.exe"}) : Args{QUARROW_EXE};

// `program` (the game by default) started by a shell once that has run `shell`, so that it takes what the shell set.
inline Args after(const std::string &shell, const std::string &program = QUARROW_EXE)
{
  return {"sh", "-c", shell + " exec \"$0\"", program};
}

// How long a wait on the game may last: as long as a loaded machine may need, well within a test's time limit.
constexpr double patience = 120;

// The library's identification, as the game writes it into the log on its system.
inline const std::string libraryId = windows ? "Allegro 4.4.3, MinGW32.s" : allegro_id;
inline const std::string banner = "-Quarrow---------------------Version: 0.1, Started: July 22nd, 2006Created by: "
                                  "Pelmark--------------------Initalizating the Allegro Library" +
                                  libraryId + "\n";
inline const std::string gfxLines = banner + "Initalizing Graphics Mode\n640 X 480 X 32 bit\n";
inline const std::string soundLines = gfxLines + "Initalizing Sound System...\n";
inline const std::string partsLines = soundLines + "Installing game componets...\n";
inline const std::string shutdownLines = "Quitting game...\n\nGame closed successfully!\n--- End Log ---";
inline const std::string dataMap = slurp(DATA_DIR "/map.txt");

// A log as the game writes it on its system: a text file, whose lines end in CR LF on Windows. A file that the
// game did not write (one a log's name links to) stays as it is.
inline std::string asWritten(const std::string &log)
{
  return windows && log.rfind(banner, 0) == 0 ? std::regex_replace(log, std::regex("\n"), "\r\n") : log;
}

struct Game : Process {
  fs::path folder = dir; // where it runs: its directory, but for the packaged game's launcher
  Window window = 0;

  // The game in a new directory holding the shipped data files, once the shell command `setup` has run there, with
  // `env` changed, as `argv` (the game itself if empty). Under Wine it gets an allegro.cfg that picks no sound driver
  // (the test machine has none).
  explicit Game(const std::string &setup = ":", const Args &env = {}, const Args &argv = {})
      : Process(argv.empty() ? gameCommand : argv, env,
                (windows ? "cp '" QUARROW_EXE "' . && printf '[sound]\\ndigi_card = 0\\n' >allegro.cfg && " : "") +
                    setup)
  {
    EXPECT_EQ(prepared, 0) << setup;
  }
  // A second game in the directory of `first`, writing its output to `output`.
  Game(const Game &first, const std::string &output) : Process(first, output, gameCommand, {}) {}
  std::string read(const std::string &file) const { return slurp(folder / file); }
  // Whether its log is `log` as the game writes it on its system.
  testing::AssertionResult logged(const std::string &log) const { return alike(read("gamelog.txt"), asWritten(log)); }
  // The program of its message box on Linux (xmessage, a child of its own), or 0.
  pid_t boxProgram() const
  {
    for (pid_t child : childrenOf(pid))
      if (slurp("/proc/" + std::to_string(child) + "/comm") == "xmessage\n")
        return child;
    return 0;
  }
  // The text of the message box it shows: as Wine traces it, or on Linux its program's last argument, or the file that
  // argument names after -file (as the launcher passes it).
  std::string boxText() const
  {
    std::smatch traced;
    const std::string out = printed(), args = slurp("/proc/" + std::to_string(boxProgram()) + "/cmdline");
    if (windows && std::regex_search(out, traced, std::regex("MSGBOX_OnInit L\"(.*)\"")))
      return std::regex_replace(std::regex_replace(traced[1].str(), std::regex("\\\\n"), "\n"), std::regex("\\\\\\\\"),
                                "\\");
    const std::size_t last = args.rfind('\0', args.size() - 2) + 1;
    const std::string text = args.substr(last, args.size() - 1 - last);
    return args.find(std::string("\0-file\0", 7)) == std::string::npos ? text : slurp(text);
  }
  // What the game has logged and printed so far (a second game in a folder only prints).
  std::string said() const { return (own ? read("gamelog.txt") : "") + printed(); }
  // The window, once the map is painted and the loop about to run (keys reach the game only from then on);
  // 0 when that has not happened within patience or the game has ended.
  Window ready()
  {
    until(patience, [this] {
      if (!window && said().find("Created Map") != std::string::npos) {
        window = windowOf(pid);
        for (pid_t game : childrenOf(pid)) // a launcher waits for the game, to show its errors
          window = window ? window : windowOf(game);
      }
      return window || wait(0) >= 0;
    });
    return window;
  }
  // The message box the game shows (its xmessage child's window on Linux, titled as the game when the launcher shows
  // it; under Wine a window of its own titled as the game and not as wide), once it shows; 0 if it does not.
  Window box()
  {
    const auto isBox = [this](Window shown, pid_t owner, const XWindowAttributes &attributes) {
      char *name = nullptr;
      const bool titled = XFetchName(xDisplay(), shown, &name) && std::string(name) == "Quarrow";
      XFree(name);
      return windows ? owner == pid && titled && attributes.width != 640
                     : owner == boxProgram() && (titled || folder / "" == dir / "");
    };
    Window found = 0;
    until(patience, [&] { return (found = findWindow(isBox)) || wait(0) >= 0; });
    return found;
  }

  // Runs an xdotool command chain with `target` (by default the game's window) focused first.
  void keys(const std::string &chain, Window target = 0) { Process::keys(target ? target : ready(), chain); }
  // Holds Escape until the game has seen it (it says it quits) or has ended: its exit status.
  int quit()
  {
    if (wait(0) < 0 && ready()) {
      keys("keydown Escape");
      until(patience, [this] { return said().find("Quitting game...") != std::string::npos || wait(0) >= 0; });
      run({"xdotool", "keyup", "Escape"});
    }
    return wait(patience);
  }
};

// The Wine server of the prefix (made once, by the first run), started afresh for the run and persistent, so that its
// desktop process stays up between games; should the run end before it is ended, it ends a minute after its last game.
struct WineServer : testing::Environment {
  void SetUp() override
  {
    xDisplay();
    run(underWine({"sh", "-c",
                   "$0 -k; [ -f \"$WINEPREFIX/system.reg\" ] || { rm -rf \"$WINEPREFIX\"; wine wineboot -i; $0 -w; }; "
                   "$0 -p60",
                   WINESERVER}),
        400);
    ASSERT_TRUE(fs::exists(winePrefix + "/system.reg")) << "wineboot made no prefix in " << winePrefix;
  }
  void TearDown() override { run(underWine({WINESERVER, "-k"}), 30); }
};
inline testing::Environment *const wineServer = windows ? testing::AddGlobalTestEnvironment(new WineServer) : nullptr;

// The log of a normal run whose map file has `chars` characters (-1: no map file), up to the end of start-up.
inline std::string startLog(long chars)
{
  std::string log = partsLines + "Opening Map File...\n" + (chars >= 0 ? "Getting first character...\n" : "");
  for (long i = 0; i < chars; i++)
    log += "First while loop\nSetting map to character from mapGot the character...\n";
  return log + "Loaded MapCreated Map";
}

// The map text that the game in `dir` must show, read as the game reads map.txt: none where that is not a
// regular file or is the log under another name, a CR LF line end as one character.
inline std::string mapText(const fs::path &dir)
{
  return run({"sh", "-c",
              "cd \"$0\" && [ -f map.txt ] && ! [ map.txt -ef gamelog.txt ] && head -c 1200 map.txt | sed 's/\\r$//'",
              dir});
}

// The 1200 x 1200 map image, as RGB bytes, that the game must paint from map text and a sheet as its reader
// takes them: position y * 25 + x is cell (x, y), cells that the text does not reach are tile 0, each byte is a
// signed tile index, and the part of a tile that lies outside the sheet stays black.
inline std::string composeMap(const std::string &text, const Picture &sheet)
{
  std::string image(1200 * 1200 * 3, '\0');
  for (int y = 0; y < 1200; y++)
    for (int x = 0; x < 1200; x++) {
      const size_t at = y / 50 * 25 + x / 50;
      const long tile = at < text.size() ? static_cast<signed char>(text[at]) : 0, from = tile * 50 + x % 50;
      if (from >= 0 && from < sheet.width && y % 50 < sheet.height)
        for (int c = 0; c < 3; c++)
          image[(y * 1200 + x) * 3 + c] = static_cast<char>(sheet.rgb[(y % 50) * sheet.width + from] >> (16 - 8 * c));
    }
  return image;
}

// Where within `radius` of (x, y) a frame shows the map image's view from; {-1, -1} if nowhere.
inline std::pair<int, int> locate(const std::string &frame, const std::string &map, int x, int y, int radius = 0)
{
  for (int dy = -radius; dy <= radius; dy++)
    for (int dx = -radius; dx <= radius; dx++) {
      bool same = frame.size() == 640 * 480 * 3 && x + dx >= 0 && x + dx <= 560 && y + dy >= 0 && y + dy <= 720;
      for (int row = 0; same && row < 480; row++)
        same = !frame.compare(row * 1920, 1920, map, ((y + dy + row) * 1200 + x + dx) * 3, 1920);
      if (same)
        return {x + dx, y + dy};
    }
  return {-1, -1};
}

// Waits for the window to show the view from (x, y).
inline bool shows(Game &game, const std::string &map, int x, int y)
{
  return until(patience, [&] { return locate(grab(game.ready()), map, x, y).first >= 0; });
}
