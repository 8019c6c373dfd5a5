// The game log: each message is flushed the moment it is written, so the file
// on disk holds everything up to a crash or a kill.
#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform.h"
#include "tile.h"

// The log's name, and whether a write to it has failed.
static const char *logName = "";
static bool logCut = false;
// What the game has told the player on standard error, for a failed start to
// show again; a fixed buffer, since memory may be what ran short.
static char told[4096];
static std::size_t toldLength = 0;

// Writes a message to `to` (none: nowhere) and keeps it in `told`, as much as fits.
static void tell(FILE *to, const char *format, va_list args)
{
  va_list kept;
  va_copy(kept, args);
  if (to != nullptr)
    std::vfprintf(to, format, args);
  const int length = std::vsnprintf(told + toldLength, sizeof told - toldLength, format, kept);
  va_end(kept);
  if (length > 0)
    toldLength = std::min(toldLength + length, sizeof told - 1);
}

void tellPlayer(const char *format, ...)
{
  va_list args;
  va_start(args, format);
  tell(stderr, format, args);
  va_end(args);
}

// Says once, on standard error, that the log could not be written whole (a
// full disk, say): it then stops short of what the game did.
static void checkWritten()
{
  if (std::ferror(logfile) && logfile != stderr && !logCut) {
    logCut = true;
    tellPlayer("Quarrow: %s could not be written whole (%s)\n", logName, std::strerror(errno));
  }
}

void openLog(const char *path)
{
  std::string why;
  logName = path;
  logfile = openLogFile(path, why);
  if (logfile != nullptr)
    return;
  // Without a log the game still runs; its messages go to the terminal instead.
  tellPlayer("Cannot create %s (%s); logging to standard error\n", path, why.c_str());
  logfile = stderr;
}

void writeToLog(const char *format, ...)
{
  va_list args;
  va_start(args, format);
  std::vfprintf(logfile, format, args);
  va_end(args);
  std::fflush(logfile);
  checkWritten();
}

void recordError(const char *format, ...)
{
  va_list args;
  va_start(args, format);
  std::vfprintf(logfile, format, args);
  va_end(args);
  std::fputc('\n', logfile);
  std::fflush(logfile);
  checkWritten();
  // A player who started the game from a terminal sees why it stopped; one who
  // did not sees it in a box, where the system has no other place for it.
  va_start(args, format);
  tell(logfile != stderr ? stderr : nullptr, format, args);
  va_end(args);
  endGame();
  try {
    showFailure(boxText(told).c_str());
  } catch (const std::bad_alloc &) { // memory may be what ran short
    showFailure(told);
  }
  std::exit(EXIT_FAILURE);
}

bool logWhole()
{
  return !logCut;
}

void closeLog()
{
  if (logfile != nullptr && logfile != stderr)
    std::fclose(logfile);
  logfile = nullptr;
}

std::string grouped(long long n)
{
  std::string text = std::to_string(n);
  for (int at = static_cast<int>(text.size()) - 3; at > (n < 0); at -= 3)
    text.insert(static_cast<std::size_t>(at), ",");
  return text;
}

// The byte at which `line` holds more than `columns` characters (UTF-8: a
// continuation byte is part of the character before it), or its size.
static std::size_t pastColumns(const std::string &line, std::size_t columns)
{
  for (std::size_t at = 0, seen = 0; at < line.size(); at++)
    if ((line[at] & 0xC0) != 0x80 && seen++ == columns)
      return at;
  return line.size();
}

std::string boxText(const std::string &text)
{
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    std::string rest = text.substr(at, end - at);
    at = end + 1;
    for (bool first = true; first || !rest.empty(); first = false) {
      // Broken at the last space that lets the line fit; a word that fits no line where it must.
      std::size_t cut = pastColumns(rest, boxColumns);
      if (cut < rest.size() && rest[cut] != ' ')
        if (const std::size_t space = rest.rfind(' ', cut); space != std::string::npos && space > 0)
          cut = space;
      lines.push_back(rest.substr(0, cut));
      lines.back().erase(lines.back().find_last_not_of(' ') + 1);
      rest.erase(0, std::min(rest.find_first_not_of(' ', cut), rest.size()));
    }
  }
  if (lines.size() > boxLines) {
    const std::size_t left = lines.size() - boxLines + 1;
    lines.erase(lines.begin() + 1, lines.begin() + 1 + left);
    lines.insert(lines.begin() + 1, "(" + grouped(left) + " lines left out)");
  }
  std::string box;
  for (std::size_t i = 0; i < lines.size(); i++)
    box += (i > 0 ? "\n" : "") + lines[i];
  return box;
}
