// Quarrow end to end, on Linux and (built as wine_tests) under Wine: the real game in a scratch directory with
// real data files, on a virtual display of the test process's own, driven with real keys (xdotool) and read
// back pixel by pixel. What it must log and show is worked out from the data files alone; ImageMagick decodes
// the tile sheets. Each start is one row of a table, marked with the systems it runs on.
#include <gtest/gtest.h>

#include <csignal>
#include <iterator>
#include <numeric>
#include <optional>

#include "game.h"

// A view the window showed: when it was read (seconds from the game's start), and where in the map it was from.
struct View {
  double at;
  int x, y;
};

// Keys are held while the views the window shows are read back, so each check is on what the game showed, however late
// it sees a key or a tick.
TEST(Game, ScrollsThreePixelsATickWithinTheMapAndLogsEveryStage)
{
  const std::string map = composeMap(dataMap, decode(DATA_DIR "/untitled.bmp"));
  Game game("head -c 99999 /dev/zero >gamelog.txt"); // a longer log of an earlier run is replaced
  ASSERT_TRUE(shows(game, map, 0, 0));
  // To the far corner and back along the edges, each held by its key while the other axis moves; then, away from
  // them, opposite keys cancel out, pressed before the key that moves the view on the other axis (keys reach the game
  // in the order they are pressed).
  std::vector<View> views = {{}};
  for (const auto &[chain, moved, to] : {std::tuple{"keydown Right", &View::x, 560},
                                         {"keydown Down", &View::y, 720},
                                         {"keyup Right keydown Left", &View::x, 0},
                                         {"keyup Down keydown Up", &View::y, 0},
                                         {"keyup Left keydown Right", &View::x, 200},
                                         {"keyup Up keydown Left keydown Down", &View::y, 300},
                                         {"keydown Up keyup Right", &View::x, 0}}) {
    // Each view from the last before the chain on, until the axis `moved` reaches `to`. A frame read while the game
    // wrote it, one view above a row and the one before below, is passed over; past an edge not kept the views never
    // reach `to`.
    const View from = views.back();
    views = {from};
    game.keys(chain);
    EXPECT_TRUE(until(patience,
                      [&, moved = moved, to = to] { // (clang 14 captures no structured binding)
                        const double at = std::chrono::duration<double>(Clock::now() - game.started).count();
                        const auto [x, y] = locate(grab(game.window), map, from.x, from.y, 720);
                        if (x >= 0)
                          views.push_back({at, x, y});
                        return x >= 0 && (views.back().*moved - to) * (to - from.*moved) >= 0;
                      }))
        << chain << ": " << views.back().x << ", " << views.back().y;
    // That axis moves 3 pixels a tick (by a multiple of 3, and not all of 6) at 60 ticks a second, fitted through the
    // times its views were read; the other stays as it was once `moved` had left `from`.
    int View::*const still = moved == &View::x ? &View::y : &View::x;
    double n = 0, t = 0, d = 0, tt = 0, td = 0;
    int step = 0, stayed = -1;
    for (const View &view : views)
      if (view.*moved != from.*moved && view.*moved != views.back().*moved) {
        const int by = std::abs(view.*moved - from.*moved);
        step = std::gcd(step, by);
        n++, t += view.at, d += by, tt += view.at * view.at, td += view.at * by;
        stayed = stayed < 0 || view.*still == stayed ? view.*still : INT_MAX;
      }
    EXPECT_EQ(step, 3) << chain;
    // Fitted from edge to edge (3 to 4 seconds) it was 172 to 184 pixels a second at loads of 6 to 12, over a second
    // 117 to 200 (a game short of processor); 4 pixels a tick make 240, 50 or 70 ticks a second 150 or 210.
    if (std::abs(to - from.*moved) >= 560) {
      EXPECT_NEAR((n * td - t * d) / (n * tt - t * t), 180, 18) << chain << ": " << n << " views";
    }
    EXPECT_EQ(views.back().*still, stayed) << chain;
  }
  EXPECT_EQ(game.quit(), 0);
  // The sheet is read whole on Windows too, past the 0x1A byte that ends a text-mode read (its byte 7,307).
  EXPECT_TRUE(game.logged(startLog(600) + shutdownLines));
}

// The systems a row runs on.
enum Systems { onLinux = 1, onWindows = 2, onBoth = 3 };

struct Start {
  std::string name, setup;          // a name, and a shell command run in the game's directory first
  Args env{};                       // changes to the game's environment
  int status = 0;                   // after Escape where it runs, else on its own
  std::string said{};               // lines the game must print, each as often as here (its messages at once)
  std::optional<std::string> log{}; // the whole log, where it is a file of the game's
  int systems = onLinux;
  // Whether a message box shows first, dismissed with Return: a failed start's, which gives its reason (its `said`)
  // with its log complete, else the map's.
  bool box = false;
  Args argv = {};
  // What is done to it once it shows its view or its box, instead of Escape or Return; it must then end.
  std::function<void(Game &)> then = {};
  fs::path folder = {};   // where in its directory it runs, if not there
  bool unprinted = false; // whether it prints nothing, its standard error closed
  friend std::ostream &operator<<(std::ostream &out, const Start &start) { return out << start.name; }
  // This row with `change` made to it.
  template <class F> Start with(F change) const
  {
    return [&](Start row) { return change(row), row; }(*this);
  }
};

class Starts : public testing::TestWithParam<Start> {};

// Lines that are not the game's own: Wine's messages and, under Wine, its sound driver's, and the box's program's
// (xmessage's) complaints about the fonts of the locale and a display lost.
const std::regex noise(std::string("^[0-9a-f]{4}:(fixme|err|warn|trace):|^Warning: Missing charsets|^X connection to") +
                       (windows ? "|^ALSA lib " : ""));

// `text` with the game's directory as "~" (as a path here, or under Wine on its drive Z:), each X display as ":N"
// and the started process's id after a dot as ".N".
static std::string own(const std::string &text, const Game &game)
{
  const std::string folder = std::regex_replace(game.dir.string(), std::regex("/"), "[/\\\\]");
  return std::regex_replace(std::regex_replace(std::regex_replace(text, std::regex("(Z:)?" + folder), "~"),
                                               std::regex("display :[0-9]+"), "display :N"),
                            std::regex("\\." + std::to_string(game.pid) + "\\b"), ".N");
}

// Whether `output` holds the lines of `said`, each as often, and no other line of the game's own (Windows' text
// files end them in CR LF), as own() gives them; `early`, before the game ends: what it says up to its shutdown.
static void expectSaid(const std::string &said, const std::string &output, const Game &game, bool early = false)
{
  const auto lines = [&game](const std::string &text) {
    std::istringstream in(own(text, game));
    Args kept;
    for (std::string line; std::getline(in, line);)
      if (!std::regex_search(line, noise))
        kept.push_back(windows && !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
    std::sort(kept.begin(), kept.end());
    return kept;
  };
  EXPECT_EQ(lines(output), lines(early ? said.substr(0, said.find("Quitting game...")) : said)) << output;
}

// Whether a message box shows the lines `said` in lines that a box 640 pixels wide shows whole, at most 66
// characters each and 24 in all, its first line first; all of them, or where they are more, the first and, after a
// line saying how many were left out, the last ones.
static void expectBox(const std::string &said, const std::string &box, const Game &game)
{
  // No line of 67 characters (not bytes: a character is a byte that does not continue one and those that do).
  EXPECT_FALSE(std::regex_search(box, std::regex("([^\\n\\x80-\\xbf][\\x80-\\xbf]*){67}"))) << box;
  EXPECT_LT(std::count(box.begin(), box.end() - box.ends_with('\n'), '\n'), 24) << box;
  EXPECT_TRUE(said.starts_with(own(box.substr(0, box.find('\n')), game))) << box;
  // The rest compared without the spaces and line ends where lines were broken (a path broken over lines joined).
  const auto bare = [&game](const std::string &text) {
    return own(std::regex_replace(own(text, game), std::regex("\\s"), ""), game);
  };
  const std::string want = bare(said), got = bare(box);
  std::smatch cut;
  EXPECT_TRUE(std::regex_search(got, cut, std::regex("^(.*?)\\([0-9,]+linesleftout\\)"))
                  ? want.size() > got.size() && want.starts_with(cut[1].str()) && want.ends_with(cut.suffix().str())
                  : got == want)
      << got << "\nnot\n"
      << want;
}

TEST_P(Starts, GiveTheirStatusLogOutputAndView)
{
  const Start &start = GetParam();
  if (!(start.systems & (windows ? onWindows : onLinux)))
    GTEST_SKIP() << "not on this system";
  Game game(start.setup, start.env, start.argv);
  game.folder /= start.folder;
  if (start.box) {
    const Window box = game.box();
    ASSERT_NE(box, 0u) << game.said();
    // The game waits in the box: the map's box before the map is read, a failed start's once its log is whole (a
    // game that went on would have logged more before its box showed).
    const bool failure = start.status == 1 && !start.then;
    EXPECT_TRUE(failure && !start.log ? testing::AssertionSuccess()
                                      : game.logged(failure ? *start.log : partsLines + "Opening Map File...\n"));
    // The box is at most 640 pixels wide, its lines broken after a space where they would not fit.
    const std::string text = game.boxText();
    XWindowAttributes shown;
    EXPECT_TRUE(windows || (XGetWindowAttributes(xDisplay(), box, &shown) && shown.width <= 640)) << text;
    expectBox(failure ? start.said : "Map failed to load!\n" + start.said.substr(0, start.said.find('\n') + 1), text,
              game);
    if (!start.then) {
      game.keys("keydown Return sleep 0.2 keyup Return", box);
    } else {
      // However the game ends meanwhile, the box ends with it, and alone: what else it started stays.
      std::vector<pid_t> others = childrenOf(game.pid);
      others.erase(std::remove(others.begin(), others.end(), game.boxProgram()), others.end());
      start.then(game);
      EXPECT_TRUE(until(patience, [&] { return game.wait(0) >= 0 && !XGetWindowAttributes(xDisplay(), box, &shown); }))
          << "the box outlived the game";
      for (pid_t other : others) // still there, and then ended
        EXPECT_TRUE(stateOf(other) != 0 && stateOf(other) != 'Z' && kill(other, SIGKILL) == 0)
            << "a process the game did not start for the box ended";
    }
  }
  // It shows the map file's view when it paints the map (whether it logs that or prints it).
  const bool runs = (start.said + start.log.value_or("")).find("Created Map") != std::string::npos;
  if (runs) {
    ASSERT_NE(game.ready(), 0u) << game.said();
    EXPECT_TRUE(shows(game, composeMap(mapText(game.folder), decode(game.folder / "untitled.bmp")), 0, 0));
    if (!start.then) // a row that does something to the game may make it say more
      expectSaid(start.said, game.printed(), game, true);
  }
  if (runs && start.then)
    start.then(game);
  EXPECT_EQ(runs && !start.then ? game.quit() : game.wait(), start.status);
  EXPECT_TRUE(start.log ? game.logged(*start.log) : testing::AssertionSuccess());
  expectSaid(start.unprinted ? "" : start.said, game.printed(), game);
}

// A row run on `systems`, with `env` added to its environment, and as `argv` if given.
static Start on(int systems, Start start, const Args &env = {}, const Args &argv = {})
{
  start.systems = systems;
  start.env.insert(start.env.end(), env.begin(), env.end());
  start.argv = argv.empty() ? start.argv : argv;
  return start;
}

const std::string sheetError = "Error loading tile sheet untitled.bmp | load_bitmap(...)\n",
                  truncated = "the file ends 370,054 bytes before its pixels do"; // the sheet's first 20,000 bytes
const std::string few = "map.txt: 24 lines expected, ", unreached = " found; the cells it does not reach show tile 0\n",
                  noXmessage = "PATH=/nonexistent";
const std::string shifted = "; the cells after it shift\n", ignored = "; the lines past the 24th are ignored\n";
const std::string bound = "map.txt: only its first 65,536 bytes are read; the rest is ignored\n";
const std::string lost = "Quarrow: the connection to the X display :N was lost\n";
const std::string missing = "it cannot be opened in ~ (No such file or directory)";
const std::string opens = "Allegro: the library could not start, though the X display :N opens\n";
// The environment that makes `what` fail.
static Args failing(const std::string &what)
{
  const Args shim = preload(FAILSHIM);
  return {shim[0], shim[1], "QUARROW_FAIL=" + what};
}

// A start that reaches the loop, with a map file of `chars` characters, and ends with Escape (or what `then` does).
static Start ran(const std::string &name, const std::string &setup, long chars, const std::string &said = "",
                 std::function<void(Game &)> then = {})
{
  return {.name = name, .setup = setup, .said = said, .log = startLog(chars) + shutdownLines, .then = then};
}
// A map file that cannot be opened, for the reason `why`: the box, then tile 0 everywhere.
static Start boxed(const std::string &name, const std::string &setup, const std::string &why)
{
  return ran(name, setup, -1, "map.txt: " + why + "\n").with([](Start &start) { start.box = true; });
}
const std::string initError = "Error initializing Allegro | allegro_init(...)\n";
// A failed start-up step (by default the library's start), said with the reason `why`: its message and the shutdown
// close the log, and the game ends with status 1.
static Start failed(const std::string &name, Args env, const std::string &why, const std::string &logSoFar = banner,
                    const std::string &error = initError, const std::string &setup = ":")
{
  // Where the game has no console, a box shows it.
  return {name, setup, env, 1, why + error, logSoFar + error + "\n" + shutdownLines, onLinux, windows};
}
// A library call that the shim makes fail, with the reason it leaves where the library leaves its own.
static Start shimmed(const std::string &name, const std::string &call, const std::string &logSoFar,
                     const std::string &error)
{
  return failed(name, failing(call), "Allegro: " + call + " was made to fail\n", logSoFar, error);
}
const std::string soundError = "Error initializing Allegro sounds | install_sound(...)\n",
                  keyboardError = "Error initializing keyboard for allegro | install_keyboard(...)\n\n",
                  noThread = "Allegro: not enough processes to start a thread (Resource temporarily unavailable)\n";
const std::string remedy = std::string("Quarrow: no sound device could be started; to play without sound, put ") +
                           (windows ? "a file allegro.cfg beside quarrow.exe holding the two lines [sound] and "
                                      "digi_card = 0\n"
                                    : "the two lines [sound] and digi_card = 0 into ~/.allegrorc\n");
static Start refused(const std::string &name, const std::string &setup, const std::string &why)
{
  return on(onBoth, failed(name, {}, "untitled.bmp: " + why + "\n", gfxLines, sheetError, setup));
}
// A shell command that writes `octal` escapes over the bytes of map.txt from `at` on.
static std::string overwrite(const std::string &octal, int at = 0)
{
  return "printf '" + octal + "' | dd of=map.txt bs=1 seek=" + std::to_string(at) + " conv=notrunc status=none";
}
// A sheet whose run-length data would write past a row.
const Scratch hostile(rle(8, 8, 2, "r3 r6 E"));
// A shell command that has ImageMagick write `sheets` (the shipped one, or it three times side by side) again.
static std::string rewrite(const std::string &options, const std::string &sheets = "untitled.bmp")
{
  return "convert " + sheets + " " + options + ":t.bmp && mv t.bmp untitled.bmp";
}

// A row that ends with the signal `request`, sent once it shows its view or box, whichever its map gives it.
static Start stopped(const std::string &name, Start start, int request, const std::string &shell = "")
{
  start.name = name;
  start.argv = after(shell); // `shell` may have ignored a signal, say
  start.status = 128 + request;
  start.then = [request](Game &game) { kill(game.pid, request); };
  start.log = start.box ? partsLines + "Opening Map File...\n" : startLog(600);
  return start;
}

// The game's window, as the desktop sees it: found by the process it names (xdotool reads _NET_WM_PID), its class
// names the game (Wine names it by the program), and its icon is the terrain tiles 48 to 51, two by two, each
// quarter of it on average the colour of its tile: in WM_HINTS, and on Linux in _NET_WM_ICON too, in each size of the
// menu's icons.
static void expectItsOwn(Game &game)
{
  const std::string window =
                        run({"xdotool", "search", "--all", "--pid", std::to_string(game.pid), "--name", "^Quarrow$"}),
                    id = window.substr(0, window.find('\n')), said = run({"xprop", "-id", id, "WM_CLASS", "WM_HINTS"});
  EXPECT_TRUE(windows || said.find("WM_CLASS(STRING) = \"quarrow\", \"Quarrow\"\n") != std::string::npos) << said;
  const std::size_t at = said.find("bitmap id # to use for icon: ");
  ASSERT_NE(at, std::string::npos) << said;
  const Pixmap icon = std::stoul(said.substr(at + 29), nullptr, 16);
  Window root;
  int x;
  unsigned size, height, border, depth;
  XGetGeometry(xDisplay(), icon, &root, &x, &x, &size, &height, &border, &depth);
  const Picture tiles = decode(DATA_DIR "/untitled.bmp", {"-crop", "200x50+2400+0", "+repage", "-scale", "4x1!"});
  const auto expectTiles = [&tiles](unsigned size, const std::string &rgb) {
    const std::string ppm = "P6 " + std::to_string(size) + " " + std::to_string(size) + " 255\n" + rgb;
    // ImageMagick's -scale takes the mean of the pixels that make each one.
    const Picture shown = decode("PPM:" + Scratch(Bytes(ppm.begin(), ppm.end())).path, {"-scale", "2x2!"});
    ASSERT_EQ(shown.rgb.size(), 4u) << size;
    for (int i = 0; i < 12; i++)
      EXPECT_NEAR(shown.rgb[i / 3] >> i % 3 * 8 & 255, tiles.rgb[i / 3] >> i % 3 * 8 & 255, 6) << i << " of " << size;
  };
  expectTiles(size, grab(icon, size, size));
  // Each size's width and height, then its pixels as 0xAARRGGBB.
  const std::string net =
      run({"xprop", "-len", "1000000", "-id", id, "-notype", "-f", "_NET_WM_ICON", "32c", "=$0+", "_NET_WM_ICON"});
  std::istringstream numbers(std::regex_replace(net, std::regex("[^0-9]+"), " "));
  std::vector<unsigned long> cardinals(std::istream_iterator<unsigned long>(numbers), {}), sizes;
  for (std::size_t at = 0; !windows && at + 2 <= cardinals.size(); at += 2 + sizes.back() * sizes.back()) {
    sizes.push_back(cardinals[at]);
    std::string rgb;
    for (std::size_t i = at + 2; i < at + 2 + sizes.back() * sizes.back() && i < cardinals.size(); i++)
      rgb += {char(cardinals[i] >> 16), char(cardinals[i] >> 8), char(cardinals[i])};
    EXPECT_EQ(cardinals[at + 1], sizes.back());
    expectTiles(sizes.back(), rgb);
  }
  EXPECT_TRUE(windows || (sizes == std::vector<unsigned long>{16, 32, 48, 64, 128, 256})) << net.substr(0, 200);
  EXPECT_EQ(game.quit(), 0);
}

// A group of rows, each test named by its row.
#define ROWS(group, rows)                                                                                              \
  INSTANTIATE_TEST_SUITE_P(group, Starts, testing::ValuesIn(rows), [](const auto &info) { return info.param.name; })

const std::vector<Start> mapRows = {
    // One line end, the same picture: the map of the Windows zip is the shipped one so (checked beside the tests).
    on(onBoth, ran("CrLf", "sed -i 's/$/\\r/' map.txt", 600)),
    on(onBoth, ran("ItsOwnWindow", ":", 600, "", expectItsOwn)),
    // A CR that no LF follows is a character of its own: tile 13 here, and at the end a 25th line.
    ran("LoneCr", "printf '\\r' | cat - map.txt >m && mv m map.txt", 601,
        "map.txt: line 1 has 25 characters, not 24 (lines of another length: 1)" + shifted),
    ran("CrAtTheEnd", "printf '\\r' >>map.txt", 601, few + "25 found" + ignored),
    // A 0x1A byte is tile 26, on Windows too, where it would end a text-mode read.
    on(onBoth, ran("CtrlZ", overwrite("\\032", 5), 600)),
    ran("Line23", "sed -i '5s/^.//' map.txt", 599,
        "map.txt: line 5 has 23 characters, not 24 (lines of another length: 1)" + shifted),
    ran("Line25", "sed -i '5s/^/3/;7s/^/3/' map.txt", 602, // the first one named
        "map.txt: line 5 has 25 characters, not 24 (lines of another length: 2)" + shifted),
    ran("LinkToAMap", "mv map.txt real && ln -s real map.txt", 600),
    ran("NoLineEnds", "tr -d '\\n' <map.txt >m && mv m map.txt", 576,
        "map.txt: line 1 has 576 characters, not 24 (lines of another length: 1)" + shifted + few + "1" + unreached),
    ran("Empty", ": >map.txt", 0, few + "0" + unreached),
    on(onBoth, ran("Directory", "rm map.txt && mkdir map.txt", 0, few + "0" + unreached)),
    // A map file costs at most its first 65,536 bytes, so the window opens within seconds whatever its length.
    ran("AtTheBound", "printf '\\r' >map.txt && truncate -s 65536 map.txt", 65536, // a lone CR counts once
        "map.txt: line 1 has 65,536 characters, not 24 (lines of another length: 1)" + shifted + few + "1" + unreached),
    ran("PastTheBound", "truncate -s 65537 map.txt", 65536, bound + few + "25 found" + ignored),
    on(onBoth, boxed("Missing", "rm map.txt", missing)),
    on(onBoth, boxed("Fifo", "rm map.txt && mkfifo map.txt", "it is not a regular file")),
    on(onBoth, boxed("LinkToDevice", "ln -sf /dev/zero map.txt", "it is not a regular file")),
    // The log read as the map would grow as fast as it is read.
    on(onBoth, boxed("LinkToTheLog", "ln -sf gamelog.txt map.txt", "it is the log under another name")),
    // The box's program is never run from the data folder, even where the PATH has an empty or relative entry;
    // without one, the message is printed, at once.
    on(onLinux,
       boxed("XmessageInTheFolder", "rm map.txt && printf '#!/bin/sh\\nexit 101\\n' >xmessage && chmod +x xmessage",
             missing),
       {std::string("PATH=:.:") + std::getenv("PATH")}),
    // (Its box's line breaks where the folder's name has 19 characters.)
    on(onLinux,
       ran("NoXmessage", "rm map.txt", -1,
           "map.txt: " + missing +
               "\nMap failed to load!\nmap.txt: it cannot be opened in ~ (No such file\nor directory)\n"),
       {noXmessage}),
    // A reason longer than a box shows, in a folder whose name is longer than a line: its last lines stand in the box.
    [](std::string folder) {
      for (int i = 0; i < 9; i++)
        folder += "/" + std::string(200, 'f');
      return on(onLinux,
                boxed("LongFolder",
                      "mkdir -p " + folder + " && cp untitled.bmp " + folder + " && rm map.txt && ln -s " + folder +
                          "/gamelog.txt .",
                      "it cannot be opened in ~/" + folder + " (No such file or directory)"),
                {}, after("cd " + folder + " &&"));
    }(std::string(200, 'f')),
    // A second game in a folder whose log a running game holds (as a double click starts one) logs to standard
    // error, and the first game's log stays whole. The first is then killed: under Wine its window does not
    // take the keys back from a second game's that has gone.
    on(onBoth, stopped("SecondGameInTheFolder", ran("", ":", 600), SIGKILL)).with([](Start &start) {
      start.argv = {};
      start.then = [](Game &first) {
        Game second(first, "second.txt");
        EXPECT_EQ(second.quit(), 0);
        expectSaid("Cannot create gamelog.txt (another game is writing it); logging to standard error\n" +
                       startLog(600) + shutdownLines,
                   second.printed(), second);
        kill(first.pid, SIGKILL);
      };
    }),
};
ROWS(Map, mapRows);

// One sheet of each kind the game reads and refuses; the unit tests take every rule at its bound.
const std::vector<Start> sheetRows = {
    // As ImageMagick writes them: 24-bit with a 124-byte header, 32 with an alpha mask, run-length palette pixels.
    ran("ImageMagicks", rewrite("BMP"), 600),
    ran("Alpha", rewrite("-alpha on BMP"), 600),
    ran("RunLength", rewrite("-posterize 2 -type palette -compress RLE BMP3"), 600),
    // A byte of 128 or more is a negative index, which paints nothing, even with tile 128 in the sheet; 255
    // (-1) does not end the file. Each tile lacking is named once.
    ran("SignedTileIndex",
        rewrite("+append BMP3", "untitled.bmp untitled.bmp untitled.bmp") + " && " +
            overwrite("\\200\\177\\200\\376\\377"),
        600, "map.txt uses tiles that untitled.bmp lacks (it holds 156): -128 -2 -1\n"),
    refused("Truncated", "head -c 20000 untitled.bmp >t && mv t untitled.bmp", truncated),
    refused("Hostile", "cp " + hostile.path + " untitled.bmp", "run-length data runs past the end of a row"),
    // Its magnitude does not fit a 32-bit `long`, as Windows has it.
    refused("LowestHeight", "printf '\\0\\0\\0\\200' | dd of=untitled.bmp bs=1 seek=22 conv=notrunc status=none",
            "it is 2,147,483,648 pixels high; a tile sheet is 1 to 1,024 pixels high"),
    refused("Huge", "truncate -s 70M untitled.bmp", "it is 73,400,320 bytes; a tile sheet may be at most 67,108,864"),
    refused("Missing", "rm untitled.bmp", missing),
    refused("Directory", "rm untitled.bmp && mkdir untitled.bmp", "it is not a regular file"),
    refused("Fifo", "rm untitled.bmp && mkfifo untitled.bmp", "it is not a regular file"),
    // Where the sanitizer's own allocator is not in the way of the shim's.
    on(SANITIZED ? 0 : onLinux, refused("NoMemory", ":", "not enough memory to read it"), failing("new")),
    // Short of memory while naming the six tiles a map uses that the sheet lacks.
    on(SANITIZED ? 0 : onLinux,
       failed("NoMemoryForTheMap", failing("new:small"), "Quarrow: not enough memory to start\n",
              startLog(600).substr(0, startLog(600).size() - 11), "Error allocating memory | new(...)\n",
              overwrite("\\200\\201\\202\\203\\204\\205"))),
};
ROWS(Sheet, sheetRows);

// A start whose log cannot be created: the notice and the log go to standard error; `log` is what the file
// named gamelog.txt holds afterwards.
static Start unlogged(const std::string &name, const std::string &setup, const std::string &why,
                      std::optional<std::string> log)
{
  return ran(name, setup, 600, "Cannot create gamelog.txt (" + why + "); logging to standard error\n")
      .with([&log](Start &start) { start.said += *std::exchange(start.log, log); });
}

// Under Wine, a program of the tests' own holds gamelog.txt as a viewer may, for a minute.
const std::string held = "echo precious >gamelog.txt && WINEPREFIX='" + winePrefix +
                         "' wine '" HOLDER "' gamelog.txt >held & until [ -s held ]; do sleep 0.1; done";

const std::vector<Start> logRows = {
    on(onBoth, unlogged("Directory", "mkdir gamelog.txt", "it is not a regular file", "")),
    unlogged("Link", "mkdir keep && echo precious >keep/file && ln -s keep/file gamelog.txt", "it is a symbolic link",
             "precious\n"),
    on(onBoth,
       unlogged("HardLink", "echo precious >keep && ln keep gamelog.txt", "it has other hard links", "precious\n")),
    unlogged("Fifo", "mkfifo gamelog.txt", "it is not a regular file", std::nullopt),
    // A program that holds it open letting others read it but not write it, as a viewer
    // may, is no other game: the system says why, and the file stays as it was.
    on(onWindows, unlogged("HeldByAViewer", held, "Sharing violation", "precious\n")),
    // A file system that keeps no locks, as some network shares, still gets the log.
    on(onLinux, ran("WithoutLocks", ":", 600), failing("flock")),
    // Beside a game in its play folder, run.sh (built afresh from a copy of the sources) says that game writes the
    // log, and leaves it and its log alone.
    ran("RunCommandBeside",
        "mkdir -p run/play && cp map.txt untitled.bmp run/play && cd " DATA_DIR
        "/.. && cp -r run.sh tools CMakeLists.txt "
        "CMakePresets.json CHANGES.txt LICENSE cmake src data docs packaging \"$OLDPWD/run\"",
        600, "",
        [](Game &game) {
          const std::string said = run({"env", "-u", "DISPLAY", (game.dir / "run/run.sh").string()}, 240);
          EXPECT_NE(said.find("ended normally.\nAnother Quarrow running in play/ is writing play/gamelog.txt; this "
                              "run left it and its log alone"),
                    std::string::npos)
              << said;
          EXPECT_EQ(game.quit(), 0);
        })
        .with([](Start &start) { start.argv = after("cd run/play &&"), start.folder = "run/play"; }),
};
ROWS(Log, logRows);

const std::vector<Start> failureRows = {
    failed("NoDisplay", {"-DISPLAY"}, "Allegro: DISPLAY is not set, so there is no X display to open\n"),
    failed("UnopenedDisplay", {"DISPLAY=:65535"}, "Allegro: the X display :65535 could not be opened\n"),
    failed("AllegroInit", failing("allegro_init"), opens),
    // Short of processes or memory: for a thread of the game's own, or one of the library's.
    failed("NoThreads", failing("pthread_create"), noThread),
    failed("NoThreadsForTheLibrary", failing("pthread_create:2"), noThread),
    // An address space too small for the library (where the sanitizer does not need a large one).
    on(SANITIZED ? 0 : onLinux,
       failed("ShortOfMemory", {}, "Allegro: not enough memory to start (Cannot allocate memory)\n"), {},
       {"prlimit", "--as=26000000", QUARROW_EXE}),
    // Short of descriptors (the log takes the last one; none is inherited), which the X library would take for a
    // display it cannot open.
    on(SANITIZED ? 0 : onLinux,
       failed("ShortOfDescriptors", {}, "Allegro: not enough file descriptors to start (Too many open files)\n"), {},
       {"bash", "-c",
        "for fd in /proc/$$/fd/*; do [ ${fd##*/} -gt 2 ] && eval \"exec ${fd##*/}>&-\"; done; exec prlimit --nofile=4 "
        "\"$0\"",
        QUARROW_EXE}),
    // The display lost at any point of start-up ends the game with its line and status 1, never a signal.
    Start{"DisplayLostInLibraryStart", ":", failing("cut_display:init"), 1, lost, banner},
    shimmed("GraphicsMode", "set_gfx_mode", gfxLines,
            "Error initalizing graphics mode for Allegro | set_gfx_mode(...)\n"),
    failed("MapImage", failing("create_bitmap:map"), "Quarrow: not enough memory for the map image\n", gfxLines,
           "Error creating map image | create_bitmap(...)\n"),
    failed("Pages", failing("create_bitmap:page"), "Quarrow: not enough memory for the pages\n", gfxLines,
           "Error creating video pages | create_bitmap(...)\n"),
    // What the player can do first, then the library's words.
    failed("Sound", failing("install_sound"), remedy + "The library said: install_sound was made to fail\n", soundLines,
           soundError),
    // Under Wine, with no allegro.cfg to pick no driver, the sound start finds no device; the box says what to do.
    on(onWindows, failed("NoSoundDevice", {}, remedy + "The library said: DIGMID patch set not found\n", soundLines,
                         soundError, "rm allegro.cfg")),
    shimmed("Keyboard", "install_keyboard", partsLines, keyboardError),
    // Memory that would run out inside the library's start of the input, which would crash it.
    on(SANITIZED ? 0 : onLinux,
       failed("ShortOfMemoryForTheInput", {}, "Quarrow: not enough memory to start the keyboard and mouse\n",
              partsLines, keyboardError),
       {}, {"prlimit", "--as=" + std::to_string(41000 << 10), QUARROW_EXE}),
};
ROWS(Failure, failureRows);

// A start with the standard descriptor `fd` closed, which the game then holds open on /dev/null.
static Start without(int fd, Start start)
{
  start.argv = after("exec " + std::to_string(fd) + "<&-;");
  start.then = [fd](Game &game) {
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(game.pid) + "/fd/" + std::to_string(fd)), "/dev/null");
    EXPECT_EQ(game.quit(), 0);
  };
  return start;
}

const std::vector<Start> streamsRows = {
    // A standard descriptor the game is started without is /dev/null, so the log never takes its number and
    // what is written to that stream (the missing map's message on output, a warning on error) stays out of it.
    without(0, ran("InputClosed", ":", 600)),
    without(1, on(onLinux, ran("OutputClosed", "rm map.txt", -1, "map.txt: " + missing + "\n"), {noXmessage})),
    without(2, ran("ErrorClosed", "sed -i 1s/.$// map.txt", 599)),
    // Output and error into a pipe whose reader has gone: what is printed there is lost, and the game runs on.
    on(onLinux, ran("ClosedPipe", "rm map.txt", -1), {noXmessage},
       {"bash", "-c", "exec 3> >(:); wait $!; exec \"$0\" >&3 2>&3 3>&-", QUARROW_EXE}),
    // One whole game under memcheck (where valgrind is and the game is not sanitized): any invalid access, use
    // of uninitialised memory or bitmap not freed fails it. The loop never yields; without fair scheduling the
    // library's input thread can starve and Escape go unseen.
    on(*VALGRIND ? onLinux : 0,
       ran("UnderMemcheck", ":", 600, "",
           [](Game &game) {
             game.keys("keydown Right sleep 2 keyup Right");
             EXPECT_EQ(game.quit(), 0) << game.read("valgrind.txt");
           }),
       {},
       {VALGRIND, "--fair-sched=yes", "--error-exitcode=99", "--leak-check=full", "--errors-for-leak-kinds=definite",
        "--log-file=valgrind.txt", QUARROW_EXE}),
};
ROWS(Streams, streamsRows);

// A signal ends the game at once, as it would any program, and the log holds every message up to then (and
// not the library's "Shutting down"); a message box the game waits in goes with it.
const std::vector<Start> signalsRows = [] {
  const Start box = boxed("", "rm map.txt", missing);
  // The box would inherit a SIGTERM ignored or blocked; the `sleep` the game is started beside must stay.
  std::vector<Start> rows = {stopped("TermInTheBox", box, SIGTERM, "sleep 300 &"),
                             stopped("IntInTheBox", box, SIGINT),
                             stopped("HupInTheBox", box, SIGHUP),
                             stopped("KillInTheBox", box, SIGKILL),
                             stopped("IntInTheBoxWithTermIgnored", box, SIGINT, "trap '' TERM;"),
                             stopped("IntInTheBoxWithTermBlocked", box, SIGINT),
                             stopped("XkillInTheBox", box, 0)};
  // SIGTERM blocked, as a starter may leave it; the game's window closed by the X server.
  rows[5].argv = {"python3", "-c",
                  "import os, signal, sys; signal.pthread_sigmask(0, [15]); os.execv(sys.argv[1], sys.argv[1:])",
                  QUARROW_EXE};
  rows[6].status = 1;
  rows[6].said += lost;
  rows[6].then = [](Game &game) { run({"xkill", "-id", std::to_string(windowOf(game.pid))}); };
  for (int request : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
    rows.push_back(stopped(sigabbrev_np(request), ran("", ":", 600), request));
  return rows;
}();
ROWS(Signals, signalsRows);

// The packaged game, unpacked, as its launcher starts it for a player whose home is the game's directory: in a
// folder of the player's own there, made on the first run and given the shipped map and sheet, the player's own
// files kept. Where something is in its way, it says what, and the game does not start. Started as from a menu,
// with standard error not a terminal, a start that fails shows it in a box; from a terminal it does not.
// It is started by a shell that runs `shell` first, with HOME the game's directory and XDG_DATA_HOME unset before, and
// runs the game in `folder`.
static Start launched(Start start, const std::string &shell = "", const std::string &folder = ".local/share/quarrow")
{
  start.systems = *LAUNCHER ? onLinux : 0;
  start.argv = after("export HOME=$PWD; unset XDG_DATA_HOME; " + shell, LAUNCHER);
  start.folder = folder;
  start.box = start.status == 1;
  return start;
}
// A launcher that refuses with `said` (the line but for its paths) and writes no log.
static Start refusal(const std::string &name, const std::string &setup, const std::string &said)
{
  return {.name = name, .setup = setup, .status = 1, .said = "quarrow: " + said + "\n", .log = ""};
}
const std::string noHome = "HOME is not set to a folder (nor XDG_DATA_HOME), so there is nowhere to keep your maps";
// Where the log is read back from the map's place, which must stay empty.
const std::string mapAsLog = "mkdir -p .local/share/quarrow && ln -s map.txt .local/share/quarrow/gamelog.txt";
// The player's map without its water, kept.
const auto keptMap = [](Game &game) {
  EXPECT_EQ(game.read("map.txt").find('0'), std::string::npos);
  game.quit();
};
// The package copied into the game's directory, its shipped map (kept as `m`) a FIFO, so that a launcher started from
// it waits in its first copy for the map's bytes.
const std::string fifoPackage = "L='" LAUNCHER "' && cp -a \"${L%/games/quarrow}\" usr && "
                                "mv usr/share/games/quarrow/map.txt m && mkfifo usr/share/games/quarrow/map.txt && ";
// A launcher from that package, in a process group of its own, beside `feed`, which holds that map open as descriptor
// 3 for a minute at most and has the launcher's process id as $0.
static Start copying(Start start, const std::string &feed)
{
  start = launched(start);
  start.setup = fifoPackage + start.setup;
  start.argv = {"setsid", "sh", "-c",
                "export HOME=$PWD; unset XDG_DATA_HOME; timeout 60 sh -c 'exec 3>usr/share/games/quarrow/map.txt; " +
                    feed + "' $$ & exec usr/games/quarrow"};
  return start;
}
// A first copy cut short by `request` to the launcher and its copy, as Ctrl-C, a closed terminal or the end of a
// session sends it, once the copy has begun to write: it says so, and no partial map is left in place.
static Start cutShort(const std::string &request)
{
  return copying(refusal("CopyCutShortBy" + request, mapAsLog,
                         "cannot copy map.txt into ~/.local/share/quarrow: the copy was cut short"),
                 "cat m >&3; until [ -s .local/share/quarrow/.map.txt.$0 ]; do sleep 0.1; done; kill -" + request +
                     " -$0");
}
// A sheet in the player's folder that the game refuses.
const std::string playerSheetCut =
    "mkdir -p .local/share/quarrow && head -c 20000 untitled.bmp >.local/share/quarrow/untitled.bmp";

const std::string lacking = "map.txt uses tiles that untitled.bmp lacks (it holds 52): 52\n";
// A start from the menu that plays but warns, in a player's folder set up by `setup`: what it says is passed on at
// once, and once the game ends a box shows it, as the game's own boxes show a text.
static Start warned(const std::string &name, const std::string &setup, const std::string &said)
{
  return launched(ran(name, "mkdir -p .local/share/quarrow && " + setup, 600, said, [said](Game &game) {
    EXPECT_TRUE(
        until(patience, [&] { return game.printed().starts_with(said.substr(0, said.find("Quitting game..."))); }));
    game.keys("keydown Escape sleep 0.3 keyup Escape");
    const Window box = game.box();
    expectBox("Quarrow played, but warned:\n" + said, game.boxText(), game);
    game.keys("keydown Return sleep 0.2 keyup Return", box);
  }));
}

// The launcher started with standard output or error closed: output it holds open on /dev/null, as the game does.
static Start closing(int fd, Start start)
{
  return launched(start.status || fd == 2 ? start : without(fd, start), "exec " + std::to_string(fd) + ">&-;")
      .with([fd](Start &start) { start.unprinted = fd == 2; });
}

const std::vector<Start> packageRows = {
    closing(1, ran("FirstRunOutputClosed", ":", 600)),
    // XDG_DATA_HOME is taken when it is an absolute path, HOME then needed no more; else HOME, if absolute.
    launched(ran("XdgDataHome", ":", 600), "export XDG_DATA_HOME=$PWD/xdg; unset HOME;", "xdg/quarrow"),
    launched(ran("RelativeXdgDataHome", ":", 600), "export XDG_DATA_HOME=xdg;"),
    launched(ran("EmptyXdgDataHome", ":", 600), "export XDG_DATA_HOME=;"),
    launched(refusal("NoHome", ":", noHome), "unset HOME;"),
    launched(refusal("RelativeHome", ":", noHome), "export XDG_DATA_HOME=xdg HOME=home;"),
    launched(
        ran("FolderIsALink", "mkdir -p elsewhere .local/share && ln -s ../../elsewhere .local/share/quarrow", 600)),
    launched(refusal("FolderIsAFile", "mkdir -p .local/share && touch .local/share/quarrow",
                     "~/.local/share/quarrow is not a folder; move it away to let the game make its folder there")),
    launched(refusal("FolderCannotBeMade", "touch .local",
                     "cannot make the folder ~/.local/share/quarrow: Not a directory")),
    launched(refusal("MapIsAFifo", "mkdir -p .local/share/quarrow && mkfifo .local/share/quarrow/map.txt",
                     "~/.local/share/quarrow/map.txt is not a regular file; move it away to get the shipped one back")),
    // Nothing is written when something is in the way, not even the map, read back as the log.
    launched(
        refusal("SheetIsAFolder", mapAsLog + " && mkdir .local/share/quarrow/untitled.bmp",
                "~/.local/share/quarrow/untitled.bmp is not a regular file; move it away to get the shipped one back")),
    // With standard output or error closed, the game starts, and a failed start gives its box and status 1.
    closing(2, ran("ErrorClosed", ":", 600)),
    closing(1, refused("RefusedSheetOutputClosed", playerSheetCut, truncated)),
    closing(2, refused("RefusedSheetErrorClosed", playerSheetCut, truncated)),
    launched(refused("RefusedSheetInATerminal", playerSheetCut, truncated)).with([](Start &start) {
      start.argv = {"script", "-qec", "stty -onlcr; unset XDG_DATA_HOME; HOME=$PWD " LAUNCHER, "/dev/null"};
      start.box = false;
    }),
    // A game ended by a signal, which the player or the desktop sent: no box, its status passed on.
    launched(stopped("GameEndedBySignal", ran("", ":", 600), SIGTERM)).with([](Start &start) {
      start.then = [](Game &game) { // the game, beside what passes its standard error on
        for (pid_t child : childrenOf(game.pid))
          windowOf(child) && kill(child, SIGTERM);
      };
    }),
    cutShort("INT"),
    cutShort("TERM"),
    cutShort("HUP"),
    // A map the player puts there while the shipped one is copied is kept.
    copying(ran("MapPutThereMeanwhile", ":", 600, "", keptMap), "tr 0 3 <m >.local/share/quarrow/map.txt; cat m >&3"),
    // A temporary file that a launcher killed outright during its copy left goes once that process is gone, and only
    // such a file: a first launcher is killed once its copy has begun to write.
    launched(ran("Leftovers",
                 fifoPackage +
                     "d=.local/share/quarrow && { HOME=$PWD XDG_DATA_HOME= usr/games/quarrow 2>/dev/null & } && "
                     "exec 3>usr/share/games/quarrow/map.txt && cat m >&3 && until [ -s $d/.map.txt.$! ]; do "
                     "sleep 0.1; done && kill -KILL $!; wait $!; echo $! >$d/gone && cd $d && "
                     "touch .untitled.bmp.$! .map.txt.1 .map.txt.$!x",
                 600, "",
                 [](Game &game) {
                   EXPECT_EQ(run({"sh", "-c", "cd \"$0\" && LC_ALL=C ls -A | sed s/$(cat gone)/N/", game.folder}),
                             ".map.txt.1\n.map.txt.Nx\ngamelog.txt\ngone\nmap.txt\nuntitled.bmp\n");
                   game.quit();
                 })),
    // The player's map, kept, does not fit the sheet: the shipped one holds tiles 0 to 51, "3" its last, "4" the first
    // it lacks. The log goes to standard error, which is longer than a box.
    warned("Warned", "tr 0 4 <map.txt >.local/share/quarrow/map.txt", lacking),
    warned("WarnedAtLength", "mkdir .local/share/quarrow/gamelog.txt",
           "Cannot create gamelog.txt (it is not a regular file); logging to standard error\n" + startLog(600) +
               shutdownLines + "\n")
        .with([](Start &start) { start.log = {}; }),
    // A folder that a process of the launcher's id left where it would copy the map is left alone, and named.
    launched(refusal("LeftoverFolderOfItsName", ":",
                     "~/.local/share/quarrow/.map.txt.N is in the way of the copy of map.txt; move it away"),
             "mkdir -p .local/share/quarrow/.map.txt.$$ &&"),
};
ROWS(Package, packageRows);
