// The map reader and painter in process: which cells a map file fills, what
// each cell of the map image shows, and how many traces the reader logs.
#include <unistd.h>

#include <algorithm>

#include "harness.h"
#include "log.h"
#include "tile.h"

namespace {

// The cell character that test maps put at (x, y): varied enough to show any shift.
char cellChar(int x, int y)
{
  return static_cast<char>('a' + (x * 7 + y * 3) % 26);
}

// `rows` lines of 24 cell characters, each ended by `end`.
std::string mapText(int rows, const std::string &end = "\n")
{
  std::string text;
  for (int y = 0; y < rows; y++) {
    for (int x = 0; x < mapCells; x++)
      text += cellChar(x, y % mapCells);
    text += end;
  }
  return text;
}

// Runs loadMap on a map file holding `text` (none when null), over a grid of 7s.
// Returns the number of characters the log traced.
long loadFrom(const char *text, size_t size)
{
  Scratch s;
  fs::remove(s.dir / "map.txt");
  if (text != nullptr)
    writeFile(s.dir / "map.txt", std::string(text, size));
  const fs::path before = fs::current_path();
  fs::current_path(s.dir);
  std::fill(&map[0][0], &map[0][0] + mapCells * mapCells, 7);
  openLog("gamelog.txt");
  loadMap();
  closeLog();
  fs::current_path(before);
  const std::string log = s.log();
  EXPECT_EQ(mapfile, nullptr);
  EXPECT_EQ(log.rfind("Opening Map File...\n", 0), 0u);
  long traces = 0;
  for (size_t at = 0; (at = log.find("First while loop\n", at)) != std::string::npos; at++)
    traces++;
  return traces;
}

long loadFrom(const std::string &text)
{
  return loadFrom(text.data(), text.size());
}

// Whether every cell (x, y) holds cellChar(x, y), for the rows given.
bool rowsHold(int first, int last)
{
  for (int y = first; y <= last; y++)
    for (int x = 0; x < mapCells; x++)
      if (map[x][y] != cellChar(x, y))
        return false;
  return true;
}

} // namespace

TEST(MapReader, WellFormedShortLongAndUnbrokenFiles)
{
  EXPECT_EQ(loadFrom(mapText(24)), 600);
  EXPECT_TRUE(rowsHold(0, 23));

  EXPECT_EQ(loadFrom(mapText(24, "\r\n")), 600); // a Windows line end is one character
  EXPECT_TRUE(rowsHold(0, 23));

  EXPECT_EQ(loadFrom(mapText(30)), 750); // rows past the last are traced, not stored
  EXPECT_TRUE(rowsHold(0, 23));

  EXPECT_EQ(loadFrom(""), 0);
  EXPECT_EQ(map[0][0], 7);

  // With no line ends every 25th character is taken for one: row 23 gets a single cell.
  std::string unbroken;
  for (int y = 0; y < mapCells; y++)
    unbroken += mapText(1).substr(0, mapCells);
  EXPECT_EQ(loadFrom(unbroken), 576);
  for (int y = 0; y < 23; y++)
    for (int x = 0; x < mapCells; x++)
      ASSERT_EQ(map[x][y], unbroken[y * 25 + x]) << x << "," << y;
  EXPECT_EQ(map[0][23], unbroken[575]);
  EXPECT_EQ(map[1][23], 7);
}

TEST(MapReader, HighBytesAreSignedTileIndicesAndDoNotEndTheFile)
{
  EXPECT_EQ(loadFrom("\xff\x80\x1a"
                     "0",
                     4),
            4);
  EXPECT_EQ(map[0][0], -1);
  EXPECT_EQ(map[1][0], -128);
  EXPECT_EQ(map[2][0], 0x1a);
  EXPECT_EQ(map[3][0], '0');
}

TEST(MapReader, MissingFileLeavesTheGridAndSaysSo)
{
  // With no xmessage to run, the library prints the message box's text.
  const std::string path = std::getenv("PATH");
  setenv("PATH", "/nonexistent", 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(loadFrom(nullptr, 0), 0);
  setenv("PATH", path.c_str(), 1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Map failed to load!"), std::string::npos);
  EXPECT_EQ(map[5][5], 7);
}

TEST(MapPainter, EachCellShowsTheSquareItsIndexNames)
{
  // A sheet of two and a half tiles: red, green, and a blue half tile.
  tiles = create_bitmap(125, tileSize);
  mapbitmap = create_bitmap(mapPixels, mapPixels);
  const int red = makecol(255, 0, 0), green = makecol(0, 255, 0), blue = makecol(0, 0, 255),
            grey = makecol(9, 9, 9);
  rectfill(tiles, 0, 0, 49, 49, red);
  rectfill(tiles, 50, 0, 99, 49, green);
  rectfill(tiles, 100, 0, 124, 49, blue);
  clear_to_color(mapbitmap, grey);
  std::fill(&map[0][0], &map[0][0] + mapCells * mapCells, 0);
  map[0][1] = 1;    // column 0, row 1
  map[1][0] = -1;   // wholly left of the sheet
  map[2][0] = 3;    // wholly right of it
  map[3][0] = 2;    // half inside
  map[4][0] = -128; // the lowest signed byte
  createMap();
  auto at = [](int x, int y) { return getpixel(mapbitmap, x, y); };
  EXPECT_EQ(at(0, 0), red);
  EXPECT_EQ(at(49, 99), green);
  EXPECT_EQ(at(50, 0), grey);
  EXPECT_EQ(at(125, 25), grey);
  EXPECT_EQ(at(150, 49), blue);
  EXPECT_EQ(at(174, 0), blue);
  EXPECT_EQ(at(175, 0), grey);
  EXPECT_EQ(at(225, 25), grey);
  EXPECT_EQ(at(1199, 1199), red);
  destroy_bitmap(tiles);
  destroy_bitmap(mapbitmap);
  tiles = mapbitmap = nullptr;
}
