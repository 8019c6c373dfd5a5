// Quarrow in hostile surroundings on Linux: signals, a display that goes away or stops answering, a request
// to stop or a lost display while a message box waits, a log that cannot be written whole, and one whole
// game under memcheck.
#include <gtest/gtest.h>

#include <csignal>

#include "game.h"

class Signals : public testing::TestWithParam<int> {};

// A signal ends the game at once, as it would any program, and the log holds every message up to then.
TEST_P(Signals, EndTheGameWithEveryMessageSoFarInTheLog)
{
  Game game;
  ASSERT_NE(game.ready(), 0u);
  kill(game.pid, GetParam());
  EXPECT_EQ(game.wait(), 128 + GetParam());
  EXPECT_EQ(game.read("gamelog.txt"), startLog(600));
  EXPECT_EQ(game.read(game.output).find("Shutting down"), std::string::npos);
}
INSTANTIATE_TEST_SUITE_P(Game, Signals,
                         testing::Values(SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT),
                         [](const auto &info) { return std::string(sigabbrev_np(info.param)); });

// Whether the game's log holds `text` within `seconds`, before the game ends.
static bool logs(Game &game, const std::string &text)
{
  until(30, [&] { return game.read("gamelog.txt").find(text) != std::string::npos || game.wait(0) >= 0; });
  return game.read("gamelog.txt").find(text) != std::string::npos;
}

// Taking the display away under a running game ends it with status 1 and one line that says so, never with a
// signal, and the log keeps every message written until then. Many times, since the end races the frame loop.
TEST(Display, LostUnderARunningGameEndsItWithStatusOne)
{
  for (int run = 0; run < 25; run++) {
    Xvfb display;
    ASSERT_FALSE(display.name.empty());
    Game game(":", {"DISPLAY=" + display.name});
    ASSERT_TRUE(logs(game, "Created Map"));
    std::this_thread::sleep_for(std::chrono::milliseconds(run * 10)); // at different points of the loop
    display.end();
    EXPECT_EQ(game.wait(5), 1);
    const std::string output = game.read(game.output);
    EXPECT_EQ(count(output, "Quarrow: the connection to the X display " + display.name + " was lost\n"), 1) << output;
    EXPECT_EQ(game.read("gamelog.txt"), startLog(600));
  }
}

// The game as a shell starts it after running `shell` (which may ignore a signal), with no map file.
static std::vector<std::string> after(const std::string &shell)
{
  return {"sh", "-c", shell + " exec \"$0\"", QUARROW_EXE};
}

class StalledDisplay : public testing::TestWithParam<std::pair<int, bool>> {};

// A request to stop ends the game at once while its start-up waits for a display that does not answer; one
// that the game was started with ignored (as `quarrow &` in a script starts it with SIGINT ignored) does not,
// and a SIGTERM then does.
TEST_P(StalledDisplay, YieldsToARequestToStop)
{
  const auto [request, ignored] = GetParam();
  Xvfb display;
  kill(display.server(), SIGSTOP);
  Game game(":", {"DISPLAY=" + display.name}, {}, after(ignored ? "trap '' INT;" : ""));
  ASSERT_TRUE(logs(game, banner));
  std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the library waits for the server's answer
  kill(game.pid, request);
  if (ignored) {
    EXPECT_EQ(game.wait(1), -1);
    kill(game.pid, SIGTERM);
  }
  EXPECT_EQ(game.wait(5), 128 + (ignored ? SIGTERM : request));
  EXPECT_EQ(game.read("gamelog.txt"), banner);
}

INSTANTIATE_TEST_SUITE_P(Request, StalledDisplay,
                         testing::Values(std::pair(SIGTERM, false), std::pair(SIGINT, false), std::pair(SIGINT, true)),
                         [](const auto &info) {
                           return std::string(sigabbrev_np(info.param.first)) + (info.param.second ? "Ignored" : "");
                         });

// How the game is started and then ended while its "Map failed to load!" box waits, and its status then.
struct Ending {
  std::string name;
  std::vector<std::string> argv; // how it is started
  int request;                   // sent to it, or 0 to close its window with xkill
  int status;
};
void PrintTo(const Ending &ending, std::ostream *out)
{
  *out << ending.name;
}
class MessageBox : public testing::TestWithParam<Ending> {};

// However the game ends while its message box waits for the player, the box ends with it, and nothing else that
// the game did not start for it does (here a `sleep` it was started beside).
TEST_P(MessageBox, EndsWithTheGameAndAloneWithIt)
{
  const Ending &ending = GetParam();
  Game game("rm map.txt", {}, {}, ending.argv);
  const Window box = game.box();
  ASSERT_NE(box, 0u);
  const std::vector<pid_t> children = childrenOf(game.pid); // the box's xmessage, and any the game was started with
  if (ending.request)
    kill(game.pid, ending.request);
  else
    run({"xkill", "-id", std::to_string(windowOf(game.pid))});
  EXPECT_EQ(game.wait(5), ending.status);
  XWindowAttributes shown;
  EXPECT_TRUE(until(1, [&] { return !XGetWindowAttributes(xDisplay(), box, &shown); })) << "the box outlived the game";
  EXPECT_EQ(game.read("gamelog.txt"), partsLines + "Opening Map File...\n");
  for (pid_t child : children) {
    if (slurp("/proc/" + std::to_string(child) + "/comm") != "xmessage\n") {
      EXPECT_NE(stateOf(child), 0) << "a process the game did not start for the box ended";
      kill(child, SIGKILL);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Request, MessageBox,
                         testing::Values(Ending{"Term", after(""), SIGTERM, 128 + SIGTERM},
                                         Ending{"Int", after(""), SIGINT, 128 + SIGINT}),
                         [](const auto &info) { return info.param.name; });

#ifdef VALGRIND
// One whole game under memcheck: any invalid access, use of uninitialised memory or bitmap not freed fails it.
TEST(Game, RunsCleanUnderMemcheck)
{
  // The loop never yields; without fair scheduling the library's input thread can starve and Escape go unseen.
  Game game(":", {}, {},
            {VALGRIND, "--fair-sched=yes", "--error-exitcode=99", "--leak-check=full",
             "--errors-for-leak-kinds=definite", "--log-file=valgrind.txt", QUARROW_EXE});
  ASSERT_NE(game.ready(120), 0u);
  game.keys("keydown Right sleep 2 keyup Right");
  EXPECT_EQ(game.quit(), 0) << game.read("valgrind.txt");
  EXPECT_EQ(game.read("gamelog.txt"), startLog(600) + shutdownLines);
}
#endif
