// Quarrow on Linux with its display taken away or stopped, and its log cut short.
#include <gtest/gtest.h>

#include <csignal>

#include "game.h"

// Taking the display away under a running game ends it with status 1 and one line that says so, never with a
// signal, and the log keeps every message written until then. Many times, since the end races the frame loop.
TEST(Display, LostUnderARunningGameEndsItWithStatusOne)
{
  for (int run = 0; run < 25; run++) {
    Xvfb display;
    ASSERT_FALSE(display.name.empty());
    Game game(":", {"DISPLAY=" + display.name});
    ASSERT_TRUE(until(patience, [&] { return game.read("gamelog.txt") == startLog(600); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(run * 10)); // at different points of the loop
    display.end();
    EXPECT_EQ(game.wait(patience), 1);
    EXPECT_EQ(game.printed(), "Quarrow: the connection to the X display " + display.name + " was lost\n");
    EXPECT_EQ(game.read("gamelog.txt"), startLog(600));
  }
}

// A virtual display keeps every client, even one that connects as the last one leaves (a server that resets then
// drops it): a few hundred connections overlapping, to the tests' own server and to the scripts'.
TEST(Display, KeepsEveryClient)
{
  const std::string connect = "p=; for i in $(seq 300); do (xdpyinfo >/dev/null 2>&1 || echo dropped) & p=\"$p $!\"; "
                              "sleep 0.003; done; wait $p";
  Xvfb display;
  EXPECT_EQ(run({"env", "DISPLAY=" + display.name, "sh", "-c", connect}, 120), "");
  EXPECT_EQ(run({"bash", "-c", ". '" DATA_DIR "/../tools/common.sh' && start_xvfb && " + connect}, 120), "");
}

// A request to stop ends the game at once while its start-up waits for a display that does not answer; one
// that the game was started with ignored (as `quarrow &` in a script starts it with SIGINT ignored) does not, and a
// SIGTERM then does.
TEST(StalledDisplay, YieldsToARequestToStop)
{
  for (const auto &[request, ignored] : {std::pair{SIGTERM, false}, {SIGINT, false}, {SIGINT, true}}) {
    SCOPED_TRACE(sigabbrev_np(request) + std::string(ignored ? " ignored" : ""));
    Xvfb display;
    kill(display.server(), SIGSTOP);
    Game game(":", {"DISPLAY=" + display.name}, after(ignored ? "trap '' INT;" : ""));
    // The library waits for the server's answer: the game's main thread polls (system call 7) its connection.
    const std::string call = "/proc/" + std::to_string(game.pid) + "/syscall";
    ASSERT_TRUE(until(patience, [&] { return game.read("gamelog.txt") == banner && slurp(call).rfind("7 ", 0) == 0; }));
    kill(game.pid, request);
    if (ignored) {
      EXPECT_EQ(game.wait(1), -1);
      kill(game.pid, SIGTERM);
    }
    EXPECT_EQ(game.wait(patience), 128 + (ignored ? SIGTERM : request));
    EXPECT_EQ(game.read("gamelog.txt"), banner);
  }
}

// A log that cannot be written whole (a full disk, here a file size limit reached at shutdown) is said once on
// standard error, and the game ends with status 1; the log keeps what was written.
TEST(Log, CutShortIsReported)
{
  Game game;
  ASSERT_NE(game.ready(), 0u);
  const rlimit size = {fs::file_size(game.dir / "gamelog.txt"), RLIM_INFINITY};
  ASSERT_EQ(prlimit(game.pid, RLIMIT_FSIZE, &size, nullptr), 0);
  EXPECT_EQ(game.quit(), 1);
  EXPECT_EQ(game.read("gamelog.txt"), startLog(600));
  EXPECT_EQ(game.printed(), "Quarrow: gamelog.txt could not be written whole (File too large)\n");
}
