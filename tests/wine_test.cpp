// Quarrow for Windows end to end: the real quarrow.exe under Wine, on the test process's own virtual display
// and in a Wine prefix kept in the Windows build folder, driven with real keys and read back pixel by pixel,
// as the Linux tests drive the native game. One persistent Wine server with its desktop process stays up for
// the whole run, so that each game starts in a Wine that is already running.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "game.h"

// The library's identification on Windows, which stands in the log where the Linux build's stands.
const std::string windowsId = "Allegro 4.4.3, MinGW32.s";
const std::string prefix = WINDOWS_DIR "/wine-prefix";
// Wine quiet, its optional installers (.NET, HTML) never offered, and the prefix named.
const std::vector<std::string> wineEnv = {"WINEPREFIX=" + prefix, "WINEDEBUG=-all",
                                          "WINEDLLOVERRIDES=mscoree,mshtml=", "WINESERVER=" WINESERVER};

// A log of the native game as the Windows build writes it: its library's name, and CR LF line ends.
static std::string onWindows(std::string log)
{
  const std::string linuxId = std::string(allegro_id) + "\n";
  if (log.compare(0, banner.size(), banner) != 0)
    return log;
  log.replace(banner.size() - linuxId.size(), linuxId.size(), windowsId + "\n");
  for (std::size_t at = log.find('\n'); at != std::string::npos; at = log.find('\n', at + 2))
    log.insert(at, 1, '\r');
  return log;
}

// Starts made and the ones Wine itself failed, for the run's closing line.
int wineStarts = 0, wineFailures = 0;

// The Wine server of the prefix, made once, kept up for the run in the foreground (so that it is this process's
// child) and persistent (so that its desktop process stays up between games); it ends with the process, taking
// every Windows process of the prefix with it.
struct WineServer : testing::Environment {
  pid_t pid = -1;
  void SetUp() override
  {
    xDisplay();
    run({"env", "WINEPREFIX=" + prefix, WINESERVER, "-k"}, 30); // a server left by an interrupted run
    if (!fs::exists(prefix + "/quarrow-ready")) {
      fs::remove_all(prefix);
      std::vector<std::string> argv = {"env"};
      argv.insert(argv.end(), wineEnv.begin(), wineEnv.end());
      for (const char *word : {"wine", "wineboot", "-i"})
        argv.push_back(word);
      run(argv, 300);
      run({"env", "WINEPREFIX=" + prefix, WINESERVER, "-w"}, 60);
      ASSERT_TRUE(fs::exists(prefix + "/system.reg")) << "wineboot made no prefix in " << prefix;
      std::ofstream(prefix + "/quarrow-ready") << "made by the tests\n";
    }
    pid = spawn({"timeout", "3600", WINESERVER, "-f", "-p"}, {"WINEPREFIX=" + prefix});
    // Up within a second, or it found another server of the prefix, which would end between games.
    ASSERT_LT(finish(pid, 1), 0) << "the Wine server did not start";
  }
  void TearDown() override
  {
    run({"env", "WINEPREFIX=" + prefix, WINESERVER, "-k"}, 30);
    if (finish(pid, 10) < 0) {
      kill(pid, SIGKILL);
      finish(pid, 10);
    }
    std::printf("Wine starts: %d, failed inside Wine and retried: %d\n", wineStarts, wineFailures);
  }
};
const auto *const server = testing::AddGlobalTestEnvironment(new WineServer);

// quarrow.exe started under Wine in a directory of its own with the shipped data files, once `setup` has run
// there, with an allegro.cfg that picks no sound driver (the test machine has no sound device) unless
// `sound` is false.
struct WindowsGame : Game {
  explicit WindowsGame(const std::string &setup, bool sound = true)
      : Game("cp '" WINDOWS_DIR "/quarrow.exe' . && " +
                 std::string(sound ? "printf '[sound]\\ndigi_card = 0\\n' >allegro.cfg && " : "") + setup,
             wineEnv, {"/usr/bin/wine", "./quarrow.exe"})
  {
    wineStarts++;
  }
  // Whether Wine failed before the game ran: the game ended in failure without getting past the library's
  // start (its log empty, or ending in allegro_init's error). Waits up to a minute for either.
  bool wineFailed()
  {
    const auto started = [this] {
      return (read("gamelog.txt") + read("output.txt")).find("Initalizing Graphics Mode") != std::string::npos;
    };
    for (const auto end = Clock::now() + std::chrono::seconds(60); !started() && wait(0) < 0 && Clock::now() < end;)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return !started() && status > 0;
  }
};

// A game under Wine, started once more, with a note, if Wine failed before the game ran. A fault of the game
// itself is never retried: every start here expects the library to start.
static std::unique_ptr<WindowsGame> start(const std::string &setup, bool sound = true)
{
  auto game = std::make_unique<WindowsGame>(setup, sound);
  if (game->wineFailed()) {
    wineFailures++;
    std::printf("Wine failed before the game ran (status %d, log: %s); starting it once more\n", game->status,
                game->read("gamelog.txt").c_str());
    game = std::make_unique<WindowsGame>(setup, sound);
  }
  return game;
}

TEST(Windows, ShowsTheMapScrollsThreePixelsATickWithinItAndLogsEveryStage)
{
  const std::string map = composeMap(dataMap, decode(DATA_DIR "/untitled.bmp"));
  auto game = start("head -c 99999 /dev/zero >gamelog.txt"); // a longer log of an earlier run is replaced
  ASSERT_NE(game->ready(60), 0u) << game->read("gamelog.txt");
  EXPECT_TRUE(showsSoon(*game, map, 0, 0));
  game->keys("keydown Right+Down sleep 5 keyup Right+Down"); // 720 pixels take 4 seconds
  EXPECT_TRUE(showsSoon(*game, map, 560, 720));
  game->keys("keydown Left+Up sleep 5 keyup Left+Up");
  EXPECT_TRUE(showsSoon(*game, map, 0, 0));
  game->keys("keydown Right+Down sleep 1 keyup Right+Down sleep 0.2");
  const auto [x, y] = locate(game->frame(), map, 180, 180, 60);
  EXPECT_TRUE(x > 0 && x % 3 == 0 && y % 3 == 0 && std::abs(x - y) <= 15) << x << ", " << y;
  EXPECT_EQ(game->quit(), 0);
  // The log as text, with CR LF line ends; and the sheet, read in binary, does not stop at its 0x1A byte (byte 7,307).
  EXPECT_EQ(game->read("gamelog.txt"), onWindows(startLog(600) + shutdownLines));
}

// The library's message box (a real MessageBox on Windows) of the game's process: a viewable window titled
// Quarrow that is not the game's window; 0 if none within `seconds`.
static Window messageBox(pid_t pid, double seconds)
{
  Display *x = xDisplay();
  for (const auto end = Clock::now() + std::chrono::duration<double>(seconds); Clock::now() < end;) {
    Window root, up, *children = nullptr, found = 0;
    unsigned count = 0;
    XQueryTree(x, DefaultRootWindow(x), &root, &up, &children, &count);
    for (unsigned i = 0; i < count && !found; i++) {
      XResClientIdSpec query = {children[i], XRES_CLIENT_ID_PID_MASK};
      long owners = 0;
      XResClientIdValue *ids = nullptr;
      XWindowAttributes window;
      char *name = nullptr;
      if (XResQueryClientIds(x, 1, &query, &owners, &ids) == Success) {
        if (owners > 0 && XResGetClientPid(&ids[0]) == pid && XGetWindowAttributes(x, children[i], &window) &&
            window.map_state == IsViewable && window.width != 640 && XFetchName(x, children[i], &name) &&
            std::string(name) == "Quarrow")
          found = children[i];
        XFree(name);
        XResClientIdsDestroy(owners, ids);
      }
    }
    XFree(children);
    if (found)
      return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

class MessageBoxes : public testing::TestWithParam<std::pair<const char *, const char *>> {};

// A map file that cannot be opened (on Windows as on Linux: missing, a FIFO, a link to a device) gives the
// message box, and the game goes on with every cell at tile 0 once it is dismissed.
TEST_P(MessageBoxes, ShowForAMapThatCannotBeOpenedAndTheGameGoesOnOnceDismissed)
{
  auto game = start(GetParam().second);
  const Window box = messageBox(game->pid, 60);
  ASSERT_NE(box, 0u) << game->read("gamelog.txt");
  // The game waits in the box: the map is not read, and nothing after it is logged.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(game->read("gamelog.txt"), onWindows(partsLines + "Opening Map File...\n"));
  run({"xdotool", "windowfocus", "--sync", std::to_string(box), "keydown", "Return", "sleep", "0.2", "keyup",
       "Return"});
  ASSERT_NE(game->ready(60), 0u) << game->read("gamelog.txt");
  EXPECT_TRUE(showsSoon(*game, composeMap(std::string(1, '\0'), decode(DATA_DIR "/untitled.bmp")), 0, 0));
  EXPECT_EQ(game->quit(), 0);
  EXPECT_EQ(game->read("gamelog.txt"), onWindows(startLog(-1) + shutdownLines));
}
INSTANTIATE_TEST_SUITE_P(Map, MessageBoxes,
                         testing::Values(std::pair("Missing", "rm map.txt"),
                                         std::pair("Fifo", "rm map.txt && mkfifo map.txt"),
                                         std::pair("LinkToDevice", "ln -sf /dev/zero map.txt")),
                         [](const auto &info) { return std::string(info.param.first); });

// A start under Wine: the shell command run in the game's directory first, whether a sound driver is picked,
// the exit status, lines the game must print, its whole log (where the file is the log), and the map text
// of the view it must show (none for a start that fails).
struct WindowsStart {
  std::string name, setup;
  bool sound;
  int status;
  std::string said;
  std::optional<std::string> log;
  std::string view;
};
void PrintTo(const WindowsStart &start, std::ostream *out)
{
  *out << start.name;
}

class WindowsStarts : public testing::TestWithParam<WindowsStart> {};

TEST_P(WindowsStarts, GiveTheirStatusLogOutputAndView)
{
  const WindowsStart &row = GetParam();
  auto game = start(row.setup, row.sound);
  if (!row.view.empty()) {
    // Not ready: the window of a game that ended or waits (in a message box, say) is never shown.
    ASSERT_NE(game->ready(60), 0u) << game->read("gamelog.txt");
    EXPECT_TRUE(showsSoon(*game, composeMap(row.view, decode(DATA_DIR "/untitled.bmp")), 0, 0));
  }
  EXPECT_EQ(row.status ? game->wait() : game->quit(), row.status);
  if (row.log) {
    EXPECT_EQ(game->read("gamelog.txt"), onWindows(*row.log));
  }
  const std::string output = game->read("output.txt");
  std::istringstream said(row.said);
  for (std::string line; std::getline(said, line);)
    EXPECT_NE(output.find(line), std::string::npos) << line << "\nin:\n" << output;
}

const std::string sheetError = "Error loading tile sheet untitled.bmp | load_bitmap(...)\n";
static WindowsStart refused(const std::string &name, const std::string &setup, const std::string &why)
{
  return {name, setup, true, 1, "untitled.bmp: " + why, gfxLines + sheetError + "\n" + shutdownLines, ""};
}
static WindowsStart ran(const std::string &name, const std::string &setup, long chars, const std::string &said,
                        const std::string &view)
{
  return {name, setup, true, 0, said, startLog(chars) + shutdownLines, view};
}

auto names = [](const auto &info) {
  std::string name = info.param.name;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
};

// The shipped map with cell (5, 0) set to tile 26 by a 0x1A byte, which ends a text-mode read on Windows.
const std::string ctrlZ = "printf '\\032' | dd of=map.txt bs=1 seek=5 conv=notrunc 2>/dev/null";
const std::string ctrlZMap = dataMap.substr(0, 5) + '\x1a' + dataMap.substr(6);

INSTANTIATE_TEST_SUITE_P(
    Sheet, WindowsStarts,
    testing::Values(refused("Truncated", "head -c 20000 untitled.bmp >t && mv t untitled.bmp",
                            "the file ends 370,054 bytes before its pixels do"),
                    refused("Hostile", "cp \"$FILES/rle8-run-past-row.bmp\" untitled.bmp",
                            "run-length data runs past the end of a row"),
                    refused("LowestHeight", "printf '\\0\\0\\0\\200' | dd of=untitled.bmp bs=1 seek=22 conv=notrunc",
                            "it is 2,147,483,648 pixels high; a tile sheet is 1 to 1,024 pixels high"),
                    refused("Huge", "truncate -s 70M untitled.bmp",
                            "it is 73,400,320 bytes; a tile sheet may be at most 67,108,864"),
                    refused("Missing", "rm untitled.bmp", "it cannot be opened (No such file or directory)"),
                    refused("Directory", "rm untitled.bmp && mkdir untitled.bmp", "it is not a regular file"),
                    refused("Fifo", "rm untitled.bmp && mkfifo untitled.bmp", "it is not a regular file")),
    names);

INSTANTIATE_TEST_SUITE_P(Map, WindowsStarts,
                         testing::Values(ran("CtrlZ", ctrlZ, 600, "", ctrlZMap),
                                         ran("CrLf", "sed -i 's/$/\\r/' map.txt", 600, "", dataMap),
                                         ran("Directory", "rm map.txt && mkdir map.txt", 0,
                                             "map.txt: 24 lines expected, 0 found", std::string(1, '\0'))),
                         names);

INSTANTIATE_TEST_SUITE_P(
    Log, WindowsStarts,
    testing::Values(WindowsStart{"Directory", "mkdir gamelog.txt", true, 0,
                                 "Cannot create gamelog.txt (it is not a regular file); logging to standard error", "",
                                 dataMap},
                    WindowsStart{"HardLink", "echo precious >keep && ln keep gamelog.txt", true, 0,
                                 "Cannot create gamelog.txt (it has other hard links); logging to standard error",
                                 "precious\n", dataMap}),
    names);

INSTANTIATE_TEST_SUITE_P(Failure, WindowsStarts,
                         testing::Values(WindowsStart{
                             "NoSoundDevice", ":", false, 1, "Error initializing Allegro sounds | install_sound(...)",
                             soundLines + "Error initializing Allegro sounds | install_sound(...)\n\n" + shutdownLines,
                             ""}),
                         names);
