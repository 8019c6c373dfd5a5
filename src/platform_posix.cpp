// Linux and other POSIX systems. Files are opened without following a link
// where that matters and without waiting on a FIFO, then checked by what the
// open descriptor is, so nothing can be swapped in between. The library's
// signal handlers are taken out again once it has started.
#include "platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>

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

FILE *openMapFile(const char *path)
{
  // A link to a device, a FIFO or a socket could block or never end.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat status;
  if (fd >= 0 && fstat(fd, &status) == 0 && (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)))
    if (FILE *file = fdopen(fd, "r"))
      return file;
  if (fd >= 0)
    close(fd);
  return nullptr;
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

// Signals whose handlers the library replaces with its own clean-up. After a
// crash that clean-up can deadlock in the allocator and hang the game forever.
static const int crashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGINT, SIGQUIT};

int startLibrary(int (*start)())
{
  // A request to stop that comes while the library starts waits until its
  // handlers are gone: they would crash before the library is up.
  struct sigaction before[std::size(crashSignals)];
  sigset_t requests, unblocked;
  sigemptyset(&requests);
  for (int request : {SIGTERM, SIGINT, SIGQUIT})
    sigaddset(&requests, request);
  sigprocmask(SIG_BLOCK, &requests, &unblocked);
  for (std::size_t i = 0; i < std::size(crashSignals); i++)
    sigaction(crashSignals[i], nullptr, &before[i]);
  const int started = start();
  for (std::size_t i = 0; i < std::size(crashSignals); i++)
    sigaction(crashSignals[i], &before[i], nullptr);
  sigprocmask(SIG_SETMASK, &unblocked, nullptr);
  return started;
}

std::string whyLibraryFailed()
{
  // On X11 a failed start means no display, and the library does not say so.
  const char *display = std::getenv("DISPLAY");
  return display == nullptr || *display == '\0' ? "DISPLAY is not set, so there is no X display to open"
                                                : std::string("the X display ") + display + " could not be opened";
}
