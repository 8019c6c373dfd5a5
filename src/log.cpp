// The game log: each message is flushed the moment it is written, so the file
// on disk holds everything up to a crash or a kill.
#include "log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tile.h"

void openLog(const char *path)
{
  // The file is opened without following a link and without waiting on a FIFO,
  // and emptied only once it is known to be a regular file of its own: a data
  // folder from elsewhere must not make the log overwrite some other file.
  const int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  std::string why = std::strerror(errno);
  struct stat status;
  if (fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1 && ftruncate(fd, 0) == 0 &&
      (logfile = fdopen(fd, "w")) != nullptr)
    return;
  if (lstat(path, &status) == 0)
    why = S_ISLNK(status.st_mode)    ? "it is a symbolic link"
          : !S_ISREG(status.st_mode) ? "it is not a regular file"
          : status.st_nlink > 1      ? "it has other hard links"
                                     : why;
  if (fd >= 0)
    close(fd);
  // Without a log the game still runs; its messages go to the terminal instead.
  std::fprintf(stderr, "Cannot create %s (%s); logging to standard error\n", path, why.c_str());
  logfile = stderr;
}

void writeToLog(const char *format, ...)
{
  va_list args;
  va_start(args, format);
  std::vfprintf(logfile, format, args);
  va_end(args);
  std::fflush(logfile);
}

void recordError(const char *format, ...)
{
  va_list args;
  va_start(args, format);
  std::vfprintf(logfile, format, args);
  va_end(args);
  std::fputc('\n', logfile);
  std::fflush(logfile);
  // A user who started the game from a terminal sees why it stopped.
  if (logfile != stderr) {
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
  }
  endGame();
  std::exit(EXIT_FAILURE);
}

void closeLog()
{
  if (logfile != nullptr && logfile != stderr)
    std::fclose(logfile);
  logfile = nullptr;
}
