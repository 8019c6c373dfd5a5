// The real executable, end to end: its log byte for byte, its exit status and
// its messages, on a normal start and on every start-up step that can fail.
#include <functional>

#include "harness.h"

TEST(Startup, NormalRunWritesTheWholeLogAndTheNextRunReplacesIt)
{
  Scratch s;
  const std::string expected = normalLog(readFile(s.dir / "map.txt").size());
  ASSERT_EQ(Game(s.dir).quit(), 0);
  EXPECT_EQ(s.log(), expected);
  writeFile(s.dir / "gamelog.txt", std::string(100000, 'x'));
  ASSERT_EQ(Game(s.dir).quit(), 0);
  EXPECT_EQ(s.log(), expected);
}

TEST(Startup, EachFailedStepIsLoggedAndEndsWithStatusOne)
{
  const std::string shim = std::string("LD_PRELOAD=") + FAILSHIM;
  const std::string upToSound = banner + gfxLines + soundLine;
  struct Case {
    std::vector<std::string> env;
    std::function<void(const fs::path &)> setup;
    std::string logged, error;
  } cases[] = {
      {{"DISPLAY"}, {}, banner, "Error initializing Allegro | allegro_init(...)\n"},
      {{shim, "QUARROW_FAIL=set_gfx_mode"},
       {},
       banner + gfxLines,
       "Error initalizing graphics mode for Allegro | set_gfx_mode(...)\n"},
      {{},
       [](const fs::path &d) { fs::remove(d / "untitled.bmp"); },
       banner + gfxLines,
       "Error loading tile sheet untitled.bmp | load_bitmap(...)\n"},
      {{},
       [](const fs::path &d) { writeFile(d / "untitled.bmp", "not an image"); },
       banner + gfxLines,
       "Error loading tile sheet untitled.bmp | load_bitmap(...)\n"},
      {{shim, "QUARROW_FAIL=create_bitmap:map"},
       {},
       banner + gfxLines,
       "Error creating map image | create_bitmap(...)\n"},
      {{shim, "QUARROW_FAIL=create_bitmap:page"},
       {},
       banner + gfxLines,
       "Error creating video pages | create_bitmap(...)\n"},
      {{shim, "QUARROW_FAIL=install_sound"},
       {},
       upToSound,
       "Error initializing Allegro sounds | install_sound(...)\n"},
      {{shim, "QUARROW_FAIL=install_keyboard"},
       {},
       upToSound + partsLine,
       "Error initializing keyboard for allegro | install_keyboard(...)\n\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.error);
    Scratch s;
    if (c.setup)
      c.setup(s.dir);
    EXPECT_EQ(Game(s.dir, c.env).wait(), 1);
    EXPECT_EQ(s.log(), c.logged + c.error + "\n" + shutdownLines);
    EXPECT_NE(s.output().find(c.error), std::string::npos) << s.output();
  }
}

TEST(Startup, MissingMapIsReportedAndEveryCellShowsTileZero)
{
  Scratch s;
  fs::remove(s.dir / "map.txt");
  Game game(s.dir);
  EXPECT_TRUE(showsSoon(game.window(), composeMap(s.dir, std::string(600, '\0')), 0, 0));
  EXPECT_EQ(game.quit(), 0);
  EXPECT_EQ(s.log(), normalLog(-1));
  EXPECT_NE(s.output().find("Map failed to load!"), std::string::npos);
}

TEST(Startup, LogThatCannotBeCreatedGoesToStandardError)
{
  Scratch s;
  fs::create_directory(s.dir / "gamelog.txt");
  EXPECT_EQ(Game(s.dir).quit(), 0);
  const std::string out = s.output(), full = normalLog(readFile(s.dir / "map.txt").size());
  EXPECT_NE(out.find("Cannot create gamelog.txt"), std::string::npos);
  EXPECT_NE(out.find(banner + gfxLines), std::string::npos);
  EXPECT_NE(out.find(full.substr(full.find(partsLine))), std::string::npos);
}

TEST(View, ShowsTheMapAndScrollsToEveryEdgeAtThreePixelsATick)
{
  Scratch s;
  const Image map = composeMap(s.dir, readFile(s.dir / "map.txt"));
  Game game(s.dir);
  const unsigned long window = game.window();
  ASSERT_NE(window, 0u);
  EXPECT_TRUE(showsSoon(window, map, 0, 0));
  // 720 pixels down take four seconds at 180 a second.
  game.keys("keydown Right keydown Down sleep 5 keyup Right keyup Down");
  EXPECT_TRUE(showsSoon(window, map, 560, 720));
  game.keys("keydown Left keydown Up sleep 5 keyup Left keyup Up");
  EXPECT_TRUE(showsSoon(window, map, 0, 0));
  game.keys("keydown Right sleep 1 keyup Right sleep 0.2");
  const auto [x, y] = findCamera(grab(window), map);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(x % 3, 0);
  EXPECT_NEAR(x, 180, 45);
  EXPECT_EQ(game.quit(), 0);
  EXPECT_EQ(s.log(), normalLog(readFile(s.dir / "map.txt").size()));
}
