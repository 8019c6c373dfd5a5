// Quarrow in hostile surroundings: a map file without end or that is the log itself, standard streams
// closed, a display that goes away or stops answering, and a request to stop while a message box waits.
#include <gtest/gtest.h>

#include <csignal>
#include <map>

#include "game.h"

// An X display of the test's own, for a game whose display the test stops or takes away. It ends with
// SIGTERM, which lets the server remove its lock file.
struct OwnDisplay {
  pid_t pid = -1; // timeout(1), which passes SIGTERM on to the server
  std::string name = startXvfb(pid);
  pid_t server() const
  {
    const std::vector<pid_t> children = childrenOf(pid);
    return children.empty() ? -1 : children[0];
  }
  void end()
  {
    if (pid < 0)
      return;
    if (const pid_t stopped = server(); stopped > 0)
      kill(stopped, SIGCONT);
    kill(pid, SIGTERM);
    finish(pid, 10);
    pid = -1;
  }
  ~OwnDisplay() { end(); }
};

// Whether the game's log holds `text` within `seconds`, before the game ends.
static bool logs(Game &game, const std::string &text, double seconds = 30)
{
  for (const auto end = Clock::now() + std::chrono::duration<double>(seconds); Clock::now() < end;) {
    if (game.read("gamelog.txt").find(text) != std::string::npos)
      return true;
    if (game.wait(0) >= 0)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// How often `text` stands in `in`.
static int count(const std::string &in, const std::string &text)
{
  int n = 0;
  for (size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + text.size()))
    n++;
  return n;
}

// Whether a log is the one expected; if not, where they part (GoogleTest's own diff of logs of megabytes
// would take minutes).
static testing::AssertionResult sameLog(const std::string &log, const std::string &expected)
{
  const size_t at =
      std::mismatch(log.begin(), log.begin() + std::min(log.size(), expected.size()), expected.begin()).first -
      log.begin();
  if (log == expected)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "the log of " << log.size() << " bytes parts from the " << expected.size()
                                     << " expected at byte " << at << ": \"" << log.substr(at, 80) << "\" for \""
                                     << expected.substr(at, 80) << "\"";
}

const std::string bound = "map.txt: only its first 65,536 bytes are read; the rest is ignored\n";

struct Endless {
  std::string name, setup; // a name, and a shell command run in the game's directory first
  long chars;              // map characters traced in the log (-1: the map is refused)
  std::string said;        // what the game must print; the bound's warning only where it stands here
};
void PrintTo(const Endless &map, std::ostream *out)
{
  *out << map.name;
}
class EndlessMaps : public testing::TestWithParam<Endless> {};

// A map file costs at most its first 65,536 bytes, so the window opens within seconds whatever its length.
TEST_P(EndlessMaps, ReachTheWindowWithinSecondsWithTheirWholeLog)
{
  const Endless &map = GetParam();
  Game game(map.setup);
  EXPECT_NE(game.ready(20), 0u);
  EXPECT_EQ(game.quit(), 0);
  EXPECT_TRUE(sameLog(game.read("gamelog.txt"), startLog(map.chars) + shutdownLines));
  const std::string output = game.read("output.txt");
  EXPECT_NE(output.find(map.said), std::string::npos) << output;
  EXPECT_EQ(count(output, bound), count(map.said, bound)) << output;
}

INSTANTIATE_TEST_SUITE_P(Map, EndlessMaps,
                         testing::Values(Endless{"AtTheBound", "truncate -s 65536 map.txt", 65536, ""},
                                         Endless{"PastTheBound", "truncate -s 65537 map.txt", 65536, bound},
                                         Endless{"SparseGigabyte", "truncate -s 1G map.txt", 65536, bound},
                                         Endless{"LinkToTheLog", "ln -sf gamelog.txt map.txt", -1,
                                                 "Map failed to load!"}),
                         [](const auto &info) { return info.param.name; });

struct Closed {
  int fd;
  std::string setup; // what makes the game write to the stream
  long chars;        // map characters traced in the log (-1: no map file)
};
void PrintTo(const Closed &closed, std::ostream *out)
{
  *out << closed.fd;
}
class ClosedStreams : public testing::TestWithParam<Closed> {};

// A standard descriptor the game is started without is /dev/null, so the log never takes its number and
// what is written to that stream (the missing map's message on output, a warning on error) stays out of it.
TEST_P(ClosedStreams, AreOpenedOnDevNull)
{
  const Closed &closed = GetParam();
  Game game(closed.setup, {}, {QUARROW_EXE}, closed.fd);
  ASSERT_NE(game.ready(), 0u);
  std::error_code error;
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(game.pid) + "/fd/" + std::to_string(closed.fd), error).string(),
            std::string("/dev/null"));
  EXPECT_EQ(game.quit(), 0);
  EXPECT_EQ(game.read("gamelog.txt"), startLog(closed.chars) + shutdownLines);
}

INSTANTIATE_TEST_SUITE_P(Game, ClosedStreams,
                         testing::Values(Closed{0, ":", 600}, Closed{1, "rm map.txt", -1},
                                         Closed{2, "sed -i 1s/.$// map.txt", 599}),
                         [](const auto &info) { return "Fd" + std::to_string(info.param.fd); });

// Taking the display away under a running game ends it with status 1 and one line that says so, never with a
// signal, and the log keeps every message written until then. Many times, since the end races the frame loop.
TEST(Display, LostUnderARunningGameEndsItWithStatusOne)
{
  std::map<int, int> statuses;
  double longest = 0;
  for (int run = 0; run < 25; run++) {
    OwnDisplay display;
    ASSERT_FALSE(display.name.empty());
    Game game(":", {"DISPLAY=" + display.name});
    ASSERT_TRUE(logs(game, "Created Map"));
    std::this_thread::sleep_for(std::chrono::milliseconds(run * 10)); // at different points of the loop
    const auto lost = Clock::now();
    display.end();
    statuses[game.wait(5)]++;
    longest = std::max(longest, std::chrono::duration<double>(Clock::now() - lost).count());
    EXPECT_EQ(game.wait(), 1);
    const std::string output = game.read("output.txt");
    EXPECT_EQ(count(output, "Quarrow: the connection to the X display " + display.name + " was lost\n"), 1) << output;
    EXPECT_EQ(game.read("gamelog.txt"), startLog(600));
  }
  // The figures, for the record: statuses (-1: still running after 5 seconds) and the longest end.
  for (const auto &[status, runs] : statuses)
    std::cout << "status " << status << ": " << runs << " runs\n";
  std::cout << "longest from the server's end to the game's: " << longest << " s\n";
}

class StalledDisplay : public testing::TestWithParam<int> {};

// A request to stop ends the game at once while its start-up waits for a display that does not answer.
TEST_P(StalledDisplay, YieldsToARequestToStop)
{
  OwnDisplay display;
  kill(display.server(), SIGSTOP);
  Game game(":", {"DISPLAY=" + display.name});
  ASSERT_TRUE(logs(game, banner));
  std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the library waits for the server's answer
  kill(game.pid, GetParam());
  EXPECT_EQ(game.wait(5), 128 + GetParam());
  EXPECT_EQ(game.read("gamelog.txt"), banner);
}

INSTANTIATE_TEST_SUITE_P(Request, StalledDisplay, testing::Values(SIGTERM, SIGINT),
                         [](const auto &info) { return std::string(sigabbrev_np(info.param)); });

// The game's message box: its xmessage child, once started within 30 seconds. One left behind is killed.
struct Box {
  pid_t pid = -1;
  explicit Box(const Game &game)
  {
    for (const auto end = Clock::now() + std::chrono::seconds(30); pid < 0 && Clock::now() < end;) {
      for (pid_t child : childrenOf(game.pid))
        pid = isBox(child) ? child : pid;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  static bool isBox(pid_t pid) { return slurp("/proc/" + std::to_string(pid) + "/comm") == "xmessage\n"; }
  bool gone() const { return stateOf(pid) == 0 || stateOf(pid) == 'Z'; }
  ~Box()
  {
    if (pid > 0 && !gone() && isBox(pid))
      kill(pid, SIGKILL);
  }
};

// The game with no map file and a real xmessage on its PATH.
static Game withMessageBox()
{
  return Game("rm map.txt", {std::string("PATH=") + std::getenv("PATH")});
}

class MessageBox : public testing::TestWithParam<int> {};

// A request to stop while the message box waits for the player closes the box with the game.
TEST_P(MessageBox, EndsWithTheGame)
{
  Game game = withMessageBox();
  const Box box(game);
  ASSERT_GT(box.pid, 0);
  kill(game.pid, GetParam());
  EXPECT_EQ(game.wait(5), 128 + GetParam());
  for (int i = 0; i < 50 && !box.gone(); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(box.gone());
  EXPECT_EQ(game.read("gamelog.txt"), partsLines + "Opening Map File...\n");
}

INSTANTIATE_TEST_SUITE_P(Request, MessageBox, testing::Values(SIGTERM, SIGINT),
                         [](const auto &info) { return std::string(sigabbrev_np(info.param)); });

// Return on the box dismisses it as its button does, and the game runs on with the checkered map.
TEST(MessageBox, DismissedWithReturnLetsTheGameRunOn)
{
  Game game = withMessageBox();
  const Box box(game);
  ASSERT_GT(box.pid, 0);
  Window window = 0;
  for (int i = 0; i < 100 && !(window = windowOf(box.pid, 0, 0, 0)); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_NE(window, 0u);
  run({"xdotool", "windowfocus", "--sync", std::to_string(window), "key", "Return"});
  EXPECT_NE(game.ready(), 0u);
  EXPECT_EQ(game.quit(), 0);
  EXPECT_EQ(game.read("gamelog.txt"), startLog(-1) + shutdownLines);
  EXPECT_EQ(game.read("output.txt").find("Map failed to load!"), std::string::npos);
}
