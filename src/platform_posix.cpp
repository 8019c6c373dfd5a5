// Linux and other POSIX systems with X11. Files are opened without following
// a link where that matters and without waiting on a FIFO, then checked by what
// the open descriptor is, so nothing can be swapped in between. Requests to
// stop (SIGTERM, SIGINT, SIGQUIT) that come while the main thread waits inside
// the library are taken by a thread of the game's own.
#include "platform.h"

#include <X11/Xlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

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

FILE *openMapFile(const char *path, FILE *log)
{
  // A link to a device, a FIFO or a socket could block or never end.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat status, logStatus;
  bool usable = fd >= 0 && fstat(fd, &status) == 0 && (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode));
  // The log read as the map would grow as fast as it is read.
  if (usable && log != nullptr && log != stderr && fstat(fileno(log), &logStatus) == 0 &&
      status.st_dev == logStatus.st_dev && status.st_ino == logStatus.st_ino)
    usable = false;
  if (usable)
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
// Requests to stop, as a terminal, a desktop or a shutdown sends them.
static const int requests[] = {SIGTERM, SIGINT, SIGQUIT};

// The watcher: while the main thread waits inside the library with the
// requests blocked, this thread takes them.
static std::thread watcher;
// Set while the watcher is to go on watching.
static std::atomic<bool> watching{false};
// The main thread's signal mask before the requests were blocked.
static sigset_t maskBefore;
// Whether the game was started with each request ignored (as `cmd &` in a
// script starts it with SIGINT and SIGQUIT ignored).
static bool ignoredBefore[std::size(requests)];

// The parent of a process, from /proc, or 0.
static pid_t parentOf(pid_t pid)
{
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string line(std::istreambuf_iterator<char>(stat), {});
  // "pid (name) state ppid ...", where the name may hold anything, even ')'.
  const std::size_t after = line.rfind(')');
  char state;
  long parent = 0;
  if (after == std::string::npos || std::sscanf(line.c_str() + after + 1, " %c %ld", &state, &parent) != 2)
    return 0;
  return static_cast<pid_t>(parent);
}

// Sends SIGTERM to every process the game started, such as the message box.
static void endChildren()
{
  DIR *proc = opendir("/proc");
  if (proc == nullptr)
    return;
  const pid_t self = getpid();
  while (const dirent *entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid > 0 && parentOf(pid) == self)
      kill(pid, SIGTERM);
  }
  closedir(proc);
}

// Takes requests until told to stop. A request the game was started with
// ignored is dropped; any other ends the game by the request's own default
// action, after closing the game's child processes if `children` is set.
static void watchRequests(bool children)
{
  sigset_t waited;
  sigemptyset(&waited);
  for (int request : requests)
    sigaddset(&waited, request);
  const timespec tick = {0, 10 * 1000 * 1000};
  while (watching) {
    const int request = sigtimedwait(&waited, nullptr, &tick);
    const int *which = std::find(std::begin(requests), std::end(requests), request);
    if (which == std::end(requests) || ignoredBefore[which - requests])
      continue;
    if (children)
      endChildren();
    std::signal(request, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, request);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(request);
  }
}

// A child forked while requests are watched starts with the mask the game had
// before, so that a message box can be closed by a request.
static void unblockInChild()
{
  if (watching)
    pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
}

// Blocks the requests in the main thread, and so in every thread it starts
// from now on, and starts the watcher.
static void beginWatch(bool children)
{
  [[maybe_unused]] static const int registered = pthread_atfork(nullptr, nullptr, unblockInChild);
  sigset_t blocked;
  sigemptyset(&blocked);
  for (std::size_t i = 0; i < std::size(requests); i++) {
    struct sigaction action;
    sigaction(requests[i], nullptr, &action);
    ignoredBefore[i] = action.sa_handler == SIG_IGN;
    sigaddset(&blocked, requests[i]);
  }
  pthread_sigmask(SIG_BLOCK, &blocked, &maskBefore);
  watching = true;
  watcher = std::thread(watchRequests, children);
}

// Stops the watcher; the requests stay blocked until the caller unblocks them.
static void endWatch()
{
  watching = false;
  watcher.join();
}

int startLibrary(int (*start)())
{
  struct sigaction before[std::size(crashSignals)];
  for (std::size_t i = 0; i < std::size(crashSignals); i++)
    sigaction(crashSignals[i], nullptr, &before[i]);
  // The library's handlers crash until it is up, so no request may reach them:
  // the library's own threads block every signal, and the watcher ends the game.
  beginWatch(false);
  const int started = start();
  endWatch();
  // A crash or a request ends the game at once, as it would without the
  // library; the log already holds every message written so far.
  for (std::size_t i = 0; i < std::size(crashSignals); i++)
    sigaction(crashSignals[i], &before[i], nullptr);
  pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
  return started;
}

// Says once that the display is gone and ends the game. The library's
// clean-up, which exit() would run, races the frame loop and can crash.
static int displayLost(Display *display)
{
  static std::atomic_flag said = ATOMIC_FLAG_INIT;
  if (said.test_and_set()) // another thread is saying it and ending the game
    for (;;)
      pause();
  char line[256];
  const int length = std::snprintf(line, sizeof line, "Quarrow: the connection to the X display %s was lost\n",
                                   DisplayString(display));
  [[maybe_unused]] const ssize_t written =
      write(STDERR_FILENO, line, std::min<std::size_t>(std::max(length, 0), sizeof line - 1));
  _exit(EXIT_FAILURE);
}

void endOnDisplayLoss()
{
  XSetIOErrorHandler(displayLost);
}

void showMessage(void (*show)())
{
  // The box is a child process that the library waits for; killing the game
  // alone would leave the box on the screen with nobody to answer it.
  beginWatch(true);
  show();
  endWatch();
  pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
}

std::string whyLibraryFailed()
{
  // On X11 a failed start means no display, and the library does not say so.
  const char *display = std::getenv("DISPLAY");
  return display == nullptr || *display == '\0' ? "DISPLAY is not set, so there is no X display to open"
                                                : std::string("the X display ") + display + " could not be opened";
}
