// Quarrow end to end: the real executable in a scratch directory on the test's X display,
// driven with real keys (xdotool); its log, exit status and window pixels (read back with
// ImageMagick's import) are checked against what the data files alone say they must be.
#include <allegro.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace fs = std::filesystem;

// Runs a shell command and returns what it printed.
static std::string shell(const std::string &command)
{
  std::string out;
  FILE *pipe = popen(command.c_str(), "r");
  for (int c; (c = std::fgetc(pipe)) != EOF;)
    out += static_cast<char>(c);
  pclose(pipe);
  return out;
}

// The game, started in a new directory holding the data files once the shell command `setup`
// has run there, with env(1) arguments `env`. PATH holds no xmessage, so the library prints its
// message box instead of waiting for a click. A game still running after two minutes is killed.
struct Game {
  std::string dir = mkdtemp((fs::temp_directory_path() / "quarrow-XXXXXX").string().data());
  std::string window;
  explicit Game(const std::string &setup = ":", const std::string &env = "")
  {
    shell("cd " + dir + " && cp " DATA_DIR "/map.txt " DATA_DIR "/untitled.bmp . && " + setup);
    std::system(("cd " + dir + " && (env " + env +
                 " PATH=/nonexistent /usr/bin/timeout -s KILL 120 " QUARROW_EXE " >output.txt 2>&1; echo $? >status) &")
                    .c_str());
  }
  ~Game() { fs::remove_all(dir); }
  std::string read(const char *file) const { return shell("cat " + dir + "/" + file + " 2>/dev/null"); }
  // The window, once the map is painted and the loop about to run (keys reach the game only
  // from then on); none when that took over 30 seconds.
  const std::string &ready()
  {
    for (int i = 0; i < 300 && window.empty(); i++, usleep(100000))
      window = shell("cd " + dir + " && grep -qs 'Created Map' gamelog.txt output.txt && " +
                     "xdotool search --onlyvisible --name '^Quarrow$' | tr -d '\\n'");
    return window;
  }
  // The window's 640 x 480 pixels as RGB bytes (none when there is no window to read).
  std::string frame()
  {
    std::string shot = ready().empty() ? "" : shell("import -window " + window + " -depth 8 rgb:- 2>/dev/null");
    return shot.size() == 640 * 480 * 3 ? shot : "";
  }
  void keys(const std::string &commands) { shell("xdotool windowfocus --sync " + ready() + " " + commands); }
  // The exit status (137 when it was killed, -1 when it never ended).
  int wait()
  {
    for (int i = 0; i < 1300 && read("status").empty(); i++)
      usleep(100000);
    const std::string status = read("status");
    return status.empty() ? -1 : std::stoi(status);
  }
  int quit()
  {
    keys("keydown Escape sleep 0.3 keyup Escape");
    return wait();
  }
};

const std::string banner = std::string("-Quarrow---------------------Version: 0.1, Started: July 22nd, 2006Created by: "
                                       "Pelmark--------------------Initalizating the Allegro Library") +
                           allegro_id + "\n";
const std::string gfxLines = banner + "Initalizing Graphics Mode\n640 X 480 X 32 bit\n";
const std::string soundLines = gfxLines + "Initalizing Sound System...\n";
const std::string partsLines = soundLines + "Installing game componets...\n";
const std::string shutdownLines = "Quitting game...\n\nGame closed successfully!\n--- End Log ---";

// The log of a normal run whose map file has `chars` characters (-1: no map file).
static std::string normalLog(long chars)
{
  std::string log = partsLines + "Opening Map File...\n" + (chars >= 0 ? "Getting first character...\n" : "");
  for (long i = 0; i < chars; i++)
    log += "First while loop\nSetting map to character from mapGot the character...\n";
  return log + "Loaded MapCreated Map" + shutdownLines;
}

// The 1200 x 1200 map image, as RGB bytes, that the game must compose from map text as the
// reader takes it (position y * 25 + x is cell (x, y); cells the text does not reach are tile 0)
// and the tile sheet, an uncompressed 24-bit BMP read here without the library.
static std::string composeMap(const std::string &text)
{
  const std::string bmp = shell("cat " DATA_DIR "/untitled.bmp");
  auto field = [&](int at) {
    std::int32_t value;
    std::memcpy(&value, &bmp[at], sizeof value);
    return value;
  };
  const int width = field(18), start = field(10);
  std::string image;
  for (int y = 0; y < 1200; y++)
    for (int x = 0; x < 1200; x++) {
      const size_t at = y / 50 * 25 + x / 50;
      const int sheetX = 50 * (at < text.size() ? static_cast<signed char>(text[at]) : 0) + x % 50;
      const char *bgr = &bmp[start + ((49 - y % 50) * width + sheetX) * 3];
      image += {bgr[2], bgr[1], bgr[0]};
    }
  return image;
}

// Whether a frame is the map image's view from (cx, cy).
static bool shows(const std::string &frame, const std::string &map, int cx, int cy)
{
  for (int y = 0; y < 480; y++)
    if (frame.size() != 640 * 480 * 3 || frame.compare(y * 1920, 1920, map, ((cy + y) * 1200 + cx) * 3, 1920) != 0)
      return false;
  return true;
}

// Waits up to five seconds for the window to show the view from (cx, cy).
static bool showsSoon(Game &game, const std::string &map, int cx, int cy)
{
  for (int i = 0; i < 50; i++, usleep(100000))
    if (shows(game.frame(), map, cx, cy))
      return true;
  return false;
}

const std::string dataMap = shell("cat " DATA_DIR "/map.txt");

TEST(Game, LogsEveryStageAndScrollsThreePixelsATickWithinTheMap)
{
  const std::string map = composeMap(dataMap);
  Game game("head -c 99999 /dev/zero >gamelog.txt"); // a longer log of an earlier run is replaced
  EXPECT_TRUE(showsSoon(game, map, 0, 0));
  game.keys("keydown Right keydown Down sleep 5 keyup Right keyup Down"); // 720 pixels: 4 s
  EXPECT_TRUE(showsSoon(game, map, 560, 720));
  game.keys("keydown Left keydown Up sleep 5 keyup Left keyup Up");
  EXPECT_TRUE(showsSoon(game, map, 0, 0));
  // Left and Right together cancel out at the left edge; Right alone then moves 180 pixels a second.
  game.keys("keydown Left keydown Right sleep 0.5 keyup Left sleep 1 keyup Right sleep 0.2");
  const std::string frame = game.frame();
  int x = 0;
  while (x <= 560 && !shows(frame, map, x, 0))
    x++;
  EXPECT_EQ(x % 3, 0);
  EXPECT_NEAR(x, 180, 45);
  EXPECT_EQ(game.quit(), 0);
  EXPECT_EQ(game.read("gamelog.txt"), normalLog(600));
}

TEST(Game, EveryMapFileAndFailedStartUpStepGivesItsLogStatusAndView)
{
  std::string unbroken = dataMap;
  unbroken.erase(std::remove(unbroken.begin(), unbroken.end(), '\n'), unbroken.end());
  // A mebibyte of noise: each byte is one character, and so is each CR LF pair.
  std::string noise(1 << 20, '\0');
  std::generate(noise.begin(), noise.end(), std::mt19937(2006));
  long noiseChars = noise.size();
  for (size_t i = 1; i < noise.size(); i++)
    noiseChars -= noise[i - 1] == '\r' && noise[i] == '\n';
  const std::string noisePath = fs::temp_directory_path() / "quarrow-noise";
  std::ofstream(noisePath, std::ios::binary) << noise;
  const std::string shim = std::string("LD_PRELOAD=") + FAILSHIM + " QUARROW_FAIL=",
                    sheet = "untitled.bmp | load_bitmap";
  struct Start {
    std::string setup, env;
    int status;
    std::string log, said;      // the whole log, and a text the game must print
    const char *view = nullptr; // map text whose view the window must show
  } starts[] = {
      {"sed -i 's/$/\\r/' map.txt", "", 0, normalLog(600), "", dataMap.c_str()}, // CR LF is one line end
      {"head -6 map.txt >>map.txt", "", 0, normalLog(750), "", dataMap.c_str()}, // surplus lines: read, not stored
      {"tr -d '\\n' <map.txt >m && mv m map.txt", "", 0, normalLog(576), "", unbroken.c_str()},
      {": >map.txt", "", 0, normalLog(0), "", ""},
      {"rm map.txt", "", 0, normalLog(-1), "Map failed to load!", ""},
      {"rm map.txt && mkdir map.txt", "", 0, normalLog(0), "", ""}, // reads as empty
      {"cp " + noisePath + " map.txt", "", 0, normalLog(noiseChars), ""},
      {"head -c 20000 untitled.bmp >t && mv t untitled.bmp", "", 0, normalLog(600), ""}, // the rest is unpainted
      {"mkdir gamelog.txt", "", 0, "", normalLog(600).substr(partsLines.size() - 29), dataMap.c_str()},
      {":", "-u DISPLAY", 1, banner, "Error initializing Allegro | allegro_init(...)\n"},
      {":", shim + "allegro_init", 1, banner, "Error initializing Allegro | allegro_init(...)\n"},
      {":", shim + "set_gfx_mode", 1, gfxLines, "Error initalizing graphics mode for Allegro | set_gfx_mode(...)\n"},
      {": >untitled.bmp", "", 1, gfxLines, "Error loading tile sheet " + sheet + "(...)\n"},
      {"rm untitled.bmp && mkdir untitled.bmp", "", 1, gfxLines, "Error loading tile sheet " + sheet + "(...)\n"},
      {"echo not an image >untitled.bmp", "", 1, gfxLines, "Error loading tile sheet " + sheet + "(...)\n"},
      {":", shim + "create_bitmap:map", 1, gfxLines, "Error creating map image | create_bitmap(...)\n"},
      {":", shim + "create_bitmap:page", 1, gfxLines, "Error creating video pages | create_bitmap(...)\n"},
      {":", shim + "install_sound", 1, soundLines, "Error initializing Allegro sounds | install_sound(...)\n"},
      {":", shim + "install_keyboard", 1, partsLines,
       "Error initializing keyboard for allegro | install_keyboard(...)\n\n"},
  };
  for (Start &start : starts) {
    // A failed step logs its message, an empty line and the shutdown; a game that starts runs until Escape.
    start.log += start.status ? start.said + "\n" + shutdownLines : "";
    Game game(start.setup, start.env);
    if (start.view) {
      EXPECT_TRUE(showsSoon(game, composeMap(start.view), 0, 0)) << start.setup;
    }
    EXPECT_EQ(start.status == 0 ? game.quit() : game.wait(), start.status) << start.setup << start.env;
    EXPECT_EQ(game.read("gamelog.txt"), start.log) << start.setup << start.env;
    EXPECT_NE(game.read("output.txt").find(start.said), std::string::npos) << start.setup << start.env;
  }
  fs::remove(noisePath);
}

TEST(Game, KilledWhileRunningLeavesEveryMessageSoFarInTheLog)
{
  Game game;
  ASSERT_FALSE(game.frame().empty());
  shell("pkill -TERM -x quarrow");
  EXPECT_EQ(game.wait(), 128 + SIGTERM);
  EXPECT_EQ(game.read("gamelog.txt"), normalLog(600).substr(0, normalLog(600).size() - shutdownLines.size()));
}
