// Quarrow end to end: the real executable in a scratch directory with real data files, on a virtual display
// of the test process's own, driven with real keys (xdotool) and read back pixel by pixel. What it must log
// and show is worked out from the data files alone; ImageMagick decodes the tile sheets.
#include <gtest/gtest.h>

#include <csignal>
#include <optional>

#include "game.h"

TEST(Game, ScrollsThreePixelsATickWithinTheMapAndLogsEveryStage)
{
  const std::string map = composeMap(dataMap, decode(DATA_DIR "/untitled.bmp"));
  Game game("head -c 99999 /dev/zero >gamelog.txt"); // a longer log of an earlier run is replaced
  EXPECT_TRUE(showsSoon(game, map, 0, 0));
  game.keys("keydown Right+Down sleep 5 keyup Right+Down"); // 720 pixels take 4 seconds
  EXPECT_TRUE(showsSoon(game, map, 560, 720));
  game.keys("keydown Left+Up sleep 5 keyup Left+Up");
  EXPECT_TRUE(showsSoon(game, map, 0, 0));
  // A second of Right and Down moves 180 pixels each way, in steps of 3 (the two presses may be a few ticks apart).
  game.keys("keydown Right+Down sleep 1 keyup Right+Down sleep 0.2");
  const auto [x, y] = locate(game.frame(), map, 180, 180, 45);
  EXPECT_TRUE(x > 0 && x % 3 == 0 && y % 3 == 0 && std::abs(x - y) <= 15) << x << ", " << y;
  // Away from the edges, opposite keys held for a second cancel out: the view moves by far less than the
  // 180 pixels one of them moves it alone (on a busy machine a few ticks may fall between two presses).
  game.keys("keydown Left+Right+Up+Down sleep 1 keyup Left+Right+Up+Down sleep 0.2");
  const auto [stillX, stillY] = locate(game.frame(), map, x, y, 30);
  EXPECT_TRUE(stillX >= 0 && stillY >= 0) << x << ", " << y;
  EXPECT_EQ(game.quit(), 0);
  EXPECT_EQ(game.read("gamelog.txt"), startLog(600) + shutdownLines);
}

// Of these texts the game may print, each row's output holds those in its `said` and no other.
const char *const gameTexts[] = {"Map failed to load!", "map.txt",  "untitled.bmp", "(...)",
                                 "Cannot create",       "Allegro:", "Shutting down"};

struct Start {
  std::string name, setup;      // a name, and a shell command run in the game's directory first
  std::vector<std::string> env; // changes to the game's environment
  int status;
  std::string said;                                   // lines the game must print
  std::optional<std::string> log;                     // the whole log, where it can be read
  std::string view, sheet = DATA_DIR "/untitled.bmp"; // map text and sheet of the view the window must show
};
void PrintTo(const Start &start, std::ostream *out)
{
  *out << start.name;
}

class Starts : public testing::TestWithParam<Start> {};

TEST_P(Starts, GiveTheirStatusLogOutputAndView)
{
  const Start &start = GetParam();
  Game game(start.setup, start.env);
  if (!start.view.empty()) {
    EXPECT_TRUE(showsSoon(game, composeMap(start.view, decode(start.sheet)), 0, 0));
  }
  EXPECT_EQ(start.status ? game.wait() : game.quit(), start.status);
  if (start.log) {
    EXPECT_EQ(game.read("gamelog.txt"), *start.log);
  }
  const std::string output = game.read("output.txt");
  std::istringstream said(start.said);
  for (std::string line; std::getline(said, line);)
    EXPECT_NE(output.find(line), std::string::npos) << line << "\nin:\n" << output;
  for (const char *text : gameTexts) {
    if (start.said.find(text) == std::string::npos) {
      EXPECT_EQ(output.find(text), std::string::npos) << text << "\nin:\n" << output;
    }
  }
}

const std::string sheetError = "Error loading tile sheet untitled.bmp | load_bitmap(...)\n";
const std::string allTileZero(1, '\0'), few = "map.txt: 24 lines expected, ";
// The environment that makes the library call `call` fail.
static std::vector<std::string> failing(const std::string &call)
{
  std::vector<std::string> env = preload(FAILSHIM);
  env.push_back("QUARROW_FAIL=" + call);
  return env;
}

// What the game prints of a library call that the shim made fail, with the reason the shim left.
static std::string madeToFail(const std::string &call)
{
  return "Allegro: " + call + " was made to fail\n";
}

// A start that reaches the loop, with a map file of `chars` characters, and ends with Escape.
static Start ran(const std::string &name, const std::string &setup, long chars, const std::string &said,
                 const std::string &view = "")
{
  return {name, setup, {}, 0, said, startLog(chars) + shutdownLines, view};
}
// A sheet of the tests' own that loads and shows what ImageMagick decodes from `shown` (itself by default).
static Start valid(const std::string &sheet, const std::string &shown = "")
{
  Start start = ran(sheet, "cp \"$FILES/" + sheet + ".bmp\" untitled.bmp", 600, "", dataMap);
  start.sheet = FILES_DIR "/" + (shown.empty() ? sheet : shown) + ".bmp";
  return start;
}
// A failed start-up step: its message and the shutdown close the log, and the game ends with status 1.
static Start failed(const std::string &name, const std::string &setup, std::vector<std::string> env,
                    const std::string &logSoFar, const std::string &error, const std::string &why = "")
{
  return {name, setup, env, 1, why + error, logSoFar + error + "\n" + shutdownLines, ""};
}
static Start refused(const std::string &name, const std::string &setup, const std::string &why)
{
  return failed(name, setup, {}, gfxLines, sheetError, "untitled.bmp: " + why + "\n");
}
static Start generated(const std::string &sheet, const std::string &why)
{
  return refused(sheet, "cp \"$FILES/" + sheet + ".bmp\" untitled.bmp", why);
}

static std::string withoutLineEnds(std::string text)
{
  text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
  return text;
}
// The shipped map with its 5th line's first character removed (`insert` empty) or `insert` put before it.
static std::string line5(const std::string &insert)
{
  return dataMap.substr(0, 100) + (insert.empty() ? dataMap.substr(101) : insert + dataMap.substr(100));
}
// The shipped map with its first bytes replaced by `bytes`.
static std::string startingWith(const std::string &bytes)
{
  return bytes + dataMap.substr(bytes.size());
}
// A shell command that writes `octal` escapes over the first bytes of map.txt.
static std::string overwrite(const std::string &octal)
{
  return "printf '" + octal + "' | dd of=map.txt conv=notrunc status=none";
}
const std::string shifted = "; the cells after it shift";

// Test names from the rows' names; GoogleTest takes no '-' in them, which sheet file names have.
auto names = [](const auto &info) {
  std::string name = info.param.name;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
};

INSTANTIATE_TEST_SUITE_P(
    Map, Starts,
    testing::Values(
        ran("CrLf", "sed -i 's/$/\\r/' map.txt", 600, "",
            dataMap), // one line end, the same picture
                      // A CR that no LF follows is a character of its own: tile 13 here, and at the end a 25th line.
        ran("LoneCr", "printf '\\r' | cat - map.txt >m && mv m map.txt", 601,
            "map.txt: line 1 has 25 characters, not 24 (lines of another length: 1)" + shifted, "\r" + dataMap),
        ran("CrAtTheEnd", "printf '\\r' >>map.txt", 601, few + "25 found; the lines past the 24th are ignored",
            dataMap),
        ran("Line23", "sed -i '5s/^.//' map.txt", 599,
            "map.txt: line 5 has 23 characters, not 24 (lines of another length: 1)" + shifted, line5("")),
        ran("Line25", "sed -i '5s/^/3/' map.txt", 601,
            "map.txt: line 5 has 25 characters, not 24 (lines of another length: 1)" + shifted, line5("3")),
        // The shipped sheet holds tiles 0 to 51: "3" is its last, "4" the first it lacks.
        ran("FirstTileLacking", overwrite("4"), 600, "map.txt uses tiles that untitled.bmp lacks (it holds 52): 52\n",
            startingWith("4")),
        ran("LinkToAMap", "mv map.txt real && ln -s real map.txt", 600, "", dataMap),
        ran("SurplusLines", "head -6 map.txt >>map.txt", 750, few + "30 found; the lines past the 24th are ignored",
            dataMap),
        ran("NoLineEnds", "tr -d '\\n' <map.txt >m && mv m map.txt", 576,
            "map.txt: line 1 has 576 characters, not 24 (lines of another length: 1)\n" + few + "1 found",
            withoutLineEnds(dataMap)),
        ran("Empty", ": >map.txt", 0, few + "0 found; the cells it does not reach show tile 0", allTileZero),
        ran("Directory", "rm map.txt && mkdir map.txt", 0, few + "0 found", allTileZero),
        ran("Missing", "rm map.txt", -1, "Map failed to load!", allTileZero),
        ran("LinkToDevice", "ln -sf /dev/zero map.txt", -1, "Map failed to load!", allTileZero),
        ran("Fifo", "rm map.txt && mkfifo map.txt", -1, "Map failed to load!", allTileZero),
        ran("Noise", "cp \"$FILES/noise\" map.txt", 4096,
            "map.txt uses tiles that untitled.bmp lacks (it holds 52): \nmap.txt: line \n" + few)),
    names);

INSTANTIATE_TEST_SUITE_P(
    Sheet, Starts,
    // One sheet of each family the game reads and refuses; the unit tests take every rule at its bound.
    testing::Values(
        valid("valid-24bit"), valid("valid-8bit"), valid("valid-rle4"), valid("valid-imagemagick"),
        valid("short-palette", "short-palette-shown"),
        // A byte of 128 or more is a negative index, which paints nothing, even with tile 128 in the sheet.
        [] {
          Start start =
              ran("SignedTileIndex", "cp \"$FILES/wide.bmp\" untitled.bmp && " + overwrite("\\200\\177"), 600,
                  "map.txt uses tiles that untitled.bmp lacks (it holds 130): -128\n", startingWith("\x80\x7f"));
          start.sheet = FILES_DIR "/wide.bmp";
          return start;
        }(),
        refused("Truncated", "head -c 20000 untitled.bmp >t && mv t untitled.bmp",
                "the file ends 370,054 bytes before its pixels do"),
        refused("Empty", ": >untitled.bmp", "it is not a BMP file"),
        refused("Text", "echo not an image >untitled.bmp", "it is not a BMP file"),
        refused("Directory", "rm untitled.bmp && mkdir untitled.bmp", "it is not a regular file"),
        refused("Fifo", "rm untitled.bmp && mkfifo untitled.bmp", "it is not a regular file"),
        refused("Huge", "truncate -s 70M untitled.bmp",
                "it is 73,400,320 bytes; a tile sheet may be at most 67,108,864"),
        generated("wraps", "it is 65,536 pixels wide; a tile sheet is 1 to 32,768 pixels wide"),
        generated("rle8-run-past-row", "run-length data runs past the end of a row"),
        generated("header-64", "header of 64 bytes is not a BMP header this game reads")),
    names);

// A start whose log cannot be created: the notice and the log go to standard error; `log` is what the file
// named gamelog.txt holds afterwards.
static Start unlogged(const std::string &name, const std::string &setup, const std::string &why,
                      std::optional<std::string> log)
{
  Start start = ran(name, setup, 600, "Cannot create gamelog.txt (" + why + "); logging to standard error\n", dataMap);
  start.said += (*start.log).substr(soundLines.size()); // the log after the sound library's own noise
  start.log = log;
  return start;
}

INSTANTIATE_TEST_SUITE_P(
    Log, Starts,
    testing::Values(unlogged("Directory", "mkdir gamelog.txt", "it is not a regular file", ""),
                    unlogged("Link", "mkdir keep && echo precious >keep/file && ln -s keep/file gamelog.txt",
                             "it is a symbolic link", "precious\n"),
                    unlogged("HardLink", "echo precious >keep && ln keep gamelog.txt", "it has other hard links",
                             "precious\n"),
                    unlogged("Fifo", "mkfifo gamelog.txt", "it is not a regular file", std::nullopt)),
    names);

INSTANTIATE_TEST_SUITE_P(
    Failure, Starts,
    testing::Values(failed("NoDisplay", ":", {"-DISPLAY"}, banner, "Error initializing Allegro | allegro_init(...)\n",
                           "Allegro: DISPLAY is not set, so there is no X display to open\n"),
                    failed("AllegroInit", ":", failing("allegro_init"), banner,
                           "Error initializing Allegro | allegro_init(...)\n", "Allegro: the X display :\n"),
                    Start{"StopWhileTheLibraryStarts", ":", failing("term_during_init"), 128 + SIGTERM, "", banner, ""},
                    failed("GraphicsMode", ":", failing("set_gfx_mode"), gfxLines,
                           "Error initalizing graphics mode for Allegro | set_gfx_mode(...)\n",
                           madeToFail("set_gfx_mode")),
                    failed("MapImage", ":", failing("create_bitmap:map"), gfxLines,
                           "Error creating map image | create_bitmap(...)\n"),
                    failed("Pages", ":", failing("create_bitmap:page"), gfxLines,
                           "Error creating video pages | create_bitmap(...)\n"),
                    failed("Sound", ":", failing("install_sound"), soundLines,
                           "Error initializing Allegro sounds | install_sound(...)\n", madeToFail("install_sound")),
                    failed("Keyboard", ":", failing("install_keyboard"), partsLines,
                           "Error initializing keyboard for allegro | install_keyboard(...)\n\n",
                           madeToFail("install_keyboard"))),
    names);

class Signals : public testing::TestWithParam<int> {};

// A signal ends the game at once, as it would any program, and the log holds every message up to then.
TEST_P(Signals, EndTheGameWithEveryMessageSoFarInTheLog)
{
  Game game;
  ASSERT_NE(game.ready(), 0u);
  kill(game.pid, GetParam());
  EXPECT_EQ(game.wait(), 128 + GetParam());
  EXPECT_EQ(game.read("gamelog.txt"), startLog(600));
  EXPECT_EQ(game.read("output.txt").find("Shutting down"), std::string::npos);
}
INSTANTIATE_TEST_SUITE_P(Game, Signals,
                         testing::Values(SIGINT, SIGQUIT, SIGTERM, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT),
                         [](const auto &info) { return std::string(sigabbrev_np(info.param)); });

#ifdef VALGRIND
// One whole game under memcheck: any invalid access, use of uninitialised memory or bitmap not freed fails it.
TEST(Game, RunsCleanUnderMemcheck)
{
  // The loop never yields; without fair scheduling the library's input thread can starve and Escape go unseen.
  Game game(":", {},
            {VALGRIND, "--fair-sched=yes", "--error-exitcode=99", "--leak-check=full",
             "--errors-for-leak-kinds=definite", "--log-file=valgrind.txt", QUARROW_EXE});
  ASSERT_NE(game.ready(120), 0u);
  game.keys("keydown Right sleep 2 keyup Right");
  EXPECT_EQ(game.quit(), 0) << game.read("valgrind.txt");
  EXPECT_EQ(game.read("gamelog.txt"), startLog(600) + shutdownLines);
}
#endif
