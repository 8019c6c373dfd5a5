// The game log: each message is flushed the moment it is written, so the file
// on disk holds everything up to a crash or a kill.
#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

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
  showFailure(told);
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
