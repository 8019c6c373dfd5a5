// Files on Linux and other POSIX systems: opened without following a link
// where that matters and without waiting on a FIFO, then checked by what the
// open descriptor is, so nothing can be swapped in between.
#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

void openStandardStreams()
{
  // Each number in turn is the lowest one free, so open() takes it.
  for (int fd = 0; fd <= 2; fd++)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF)
      open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
}

FILE *openLogFile(const char *path, std::string &why)
{
  // Emptied only once it is known to be a regular file of its own: a data
  // folder from elsewhere must not make the log overwrite some other file.
  const int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  why = std::strerror(errno);
  struct stat status;
  if (fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1 && ftruncate(fd, 0) == 0)
    if (FILE *file = fdopen(fd, "w"))
      return file;
  if (lstat(path, &status) == 0)
    why = S_ISLNK(status.st_mode)    ? "it is a symbolic link"
          : !S_ISREG(status.st_mode) ? "it is not a regular file"
          : status.st_nlink > 1      ? "it has other hard links"
                                     : why;
  if (fd >= 0)
    close(fd);
  return nullptr;
}

FILE *openMapFile(const char *path, std::size_t limit, FILE *log, bool &cut)
{
  // What the stream returned reads; one map is read at a time.
  static std::vector<char> bytes;
  cut = false;
  // A link to a device, a FIFO or a socket could block or never end.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat status, logStatus;
  bool usable = fd >= 0 && fstat(fd, &status) == 0 && (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode));
  // The log read as the map would grow as fast as it is read.
  if (usable && log != nullptr && log != stderr && fstat(fileno(log), &logStatus) == 0 &&
      status.st_dev == logStatus.st_dev && status.st_ino == logStatus.st_ino)
    usable = false;
  if (usable) {
    // One byte past the limit tells whether there is more; a directory reads as empty.
    bytes.resize(limit + 1);
    std::size_t got = 0;
    ssize_t n;
    while (got < bytes.size() && (n = read(fd, bytes.data() + got, bytes.size() - got)) > 0)
      got += n;
    cut = got > limit;
    bytes.resize(std::min(got, limit));
  }
  if (fd >= 0)
    close(fd);
  return usable ? fmemopen(bytes.data(), bytes.size(), "r") : nullptr;
}

std::string readDataFile(const char *path, std::size_t limit, std::vector<std::uint8_t> &bytes, std::uint64_t &size)
{
  bytes.clear();
  size = 0;
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return std::string("it cannot be opened (") + std::strerror(errno) + ")";
  std::string why;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    why = "it is not a regular file";
  } else if ((size = status.st_size) <= limit) {
    // A file that shrinks meanwhile keeps what was read; one that grows is read to its stated size.
    bytes.resize(size);
    std::size_t got = 0;
    ssize_t n;
    while (got < bytes.size() && (n = read(fd, bytes.data() + got, bytes.size() - got)) > 0)
      got += n;
    bytes.resize(got);
  }
  close(fd);
  return why;
}
