// Linux and other POSIX systems with X11. Files are opened without following
// a link where that matters and without waiting on a FIFO, then checked by what
// the open descriptor is, so nothing can be swapped in between. Requests to
// stop (SIGTERM, SIGINT, SIGQUIT) that come while the main thread waits inside
// the library's start-up are taken by a thread of the game's own; the message
// box's process ends with the game's, however that ends.
#include "platform.h"

// The library's X11 window, to mark it before it is shown.
#include <allegro.h>
#include <xalleg.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>

// The window's icon, `quarrow`, made from the tile sheet at build time; and
// again in several sizes (`quarrowSizes`), their pixels as BGRA bytes, one
// size after another (`quarrowPixels`).
#include "quarrow.xpm"
#include "quarrow_icon.h"
// The icon the library gives its window, as an XPM; declared by no header of its own.
extern "C" void *allegro_icon;

void openStandardStreams()
{
  // Each number in turn is the lowest one free, so open() takes it.
  for (int fd = 0; fd <= 2; fd++)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF)
      open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  // A reader that has gone, or a full disk's limit, makes a write fail instead of ending the game.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

// Why a file of the game's folder cannot be opened, for the system's reason
// `error`, naming the folder: a game started elsewhere than its files shows
// where it looked.
static std::string unopened(int error)
{
  char folder[PATH_MAX];
  return std::string("it cannot be opened in ") +
         (getcwd(folder, sizeof folder) != nullptr ? folder : "the folder the game was started in") + " (" +
         std::strerror(error) + ")";
}

FILE *openLogFile(const char *path, std::string &why)
{
  // Emptied only once it is known to be a regular file of its own: a data
  // folder from elsewhere must not make the log overwrite some other file.
  const int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  why = std::strerror(errno);
  struct stat status;
  if (fd >= 0 && fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1) {
    // A second game started in the same folder leaves the first one's log whole; where the file system
    // keeps no locks (some network shares), the log is written as before.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
      why = "another game is writing it";
    else if (ftruncate(fd, 0) == 0)
      if (FILE *file = fdopen(fd, "w"))
        return file;
  }
  if (lstat(path, &status) == 0)
    why = S_ISLNK(status.st_mode)    ? "it is a symbolic link"
          : !S_ISREG(status.st_mode) ? "it is not a regular file"
          : status.st_nlink > 1      ? "it has other hard links"
                                     : why;
  if (fd >= 0)
    close(fd);
  return nullptr;
}

FILE *openMapFile(const char *path, FILE *log, std::string &why)
{
  // A link to a device, a FIFO or a socket could block or never end.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat status, logStatus;
  why = fd < 0 ? unopened(errno) : "";
  if (fd >= 0 && (fstat(fd, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))))
    why = "it is not a regular file";
  // The log read as the map would grow as fast as it is read.
  else if (fd >= 0 && log != nullptr && log != stderr && fstat(fileno(log), &logStatus) == 0 &&
           status.st_dev == logStatus.st_dev && status.st_ino == logStatus.st_ino)
    why = "it is the log under another name";
  if (why.empty())
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
    return unopened(errno);
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

// The watcher: while the main thread waits inside the library's start-up with
// the requests blocked, this thread takes them.
static pthread_t watcher;
// Set while the watcher is to go on watching.
static std::atomic<bool> watching{false};
// Whether the game was started with each request ignored (as `cmd &` in a
// script starts it with SIGINT and SIGQUIT ignored).
static bool ignoredBefore[std::size(requests)];
// Why the library's start-up could not be run, if it could not.
static std::string notStarted;

// Takes requests until told to stop. A request the game was started with
// ignored is dropped; any other ends the game by the request's own default
// action.
static void *watchRequests(void *)
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
    std::signal(request, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, request);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(request);
  }
  return nullptr;
}

// Why a thread could not be started, for the system's reason `error`: memory
// for its stack, or else a limit on the user's processes and threads.
static std::string threadShortage(int error)
{
  return std::string(memoryToSpare(8 << 20) ? "not enough processes" : "not enough memory") + " to start a thread (" +
         std::strerror(error) + ")";
}

int startLibrary(int (*start)())
{
  struct sigaction before[std::size(crashSignals)];
  for (std::size_t i = 0; i < std::size(crashSignals); i++)
    sigaction(crashSignals[i], nullptr, &before[i]);
  // The library's handlers crash until it is up, so no request may reach them:
  // they are blocked here, and in the threads the library starts, and the
  // watcher ends the game instead.
  sigset_t blocked, maskBefore;
  sigemptyset(&blocked);
  for (std::size_t i = 0; i < std::size(requests); i++) {
    struct sigaction action;
    sigaction(requests[i], nullptr, &action);
    ignoredBefore[i] = action.sa_handler == SIG_IGN;
    sigaddset(&blocked, requests[i]);
  }
  pthread_sigmask(SIG_BLOCK, &blocked, &maskBefore);
  watching = true;
  int started = -1;
  if (const int error = pthread_create(&watcher, nullptr, watchRequests, nullptr); error != 0) {
    notStarted = threadShortage(error);
  } else {
    started = start();
    watching = false;
    pthread_join(watcher, nullptr);
  }
  // A crash or a request ends the game at once, as it would without the
  // library; the log already holds every message written so far.
  for (std::size_t i = 0; i < std::size(crashSignals); i++)
    sigaction(crashSignals[i], &before[i], nullptr);
  pthread_sigmask(SIG_SETMASK, &maskBefore, nullptr);
  return started;
}

// The game's process while its message box is up, else 0.
static pid_t game = 0;

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

// In the message box's process: it ends when the game does, however the game
// ends, even by SIGKILL or before this runs.
static void boxWithTheGame()
{
  if (game == 0)
    return;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != game)
    _exit(EXIT_FAILURE);
}

void showMessage(void (*show)())
{
  [[maybe_unused]] static const int registered = pthread_atfork(nullptr, nullptr, boxWithTheGame);
  // The library runs the box's program from the PATH: only from absolute
  // entries, never from the data folder an empty or relative entry names.
  const char *path = std::getenv("PATH");
  const std::string before = path != nullptr ? path : "";
  std::string absolute;
  for (std::size_t at = 0; at < before.size();) {
    const std::size_t end = std::min(before.find(':', at), before.size());
    if (before[at] == '/')
      absolute += (absolute.empty() ? "" : ":") + before.substr(at, end - at);
    at = end + 1;
  }
  // With none left the system's own search path is taken, which holds no such folder either.
  if (!absolute.empty())
    setenv("PATH", absolute.c_str(), 1);
  else
    unsetenv("PATH");
  game = getpid();
  show();
  game = 0;
  if (path != nullptr)
    setenv("PATH", before.c_str(), 1);
  // Without the box's program the message is printed: at once, whoever reads.
  std::fflush(stdout);
}

bool memoryToSpare(std::size_t bytes)
{
  // Reserved, never touched: only the address space is asked for.
  void *memory = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED)
    return false;
  munmap(memory, bytes);
  return true;
}

// Held while threadsToSpare starts its threads, which wait for it.
static pthread_mutex_t held = PTHREAD_MUTEX_INITIALIZER;

// Whether two threads can run beside the main one, as the game's watcher and
// the library's own thread do while it starts: 0, or why not.
static int threadsToSpare()
{
  pthread_t threads[2];
  int started = 0, error = 0;
  pthread_mutex_lock(&held);
  const auto wait = [](void *) -> void * {
    pthread_mutex_lock(&held);
    pthread_mutex_unlock(&held);
    return nullptr;
  };
  while (started < 2 && (error = pthread_create(&threads[started], nullptr, wait, nullptr)) == 0)
    started++;
  pthread_mutex_unlock(&held);
  while (started > 0)
    pthread_join(threads[--started], nullptr);
  return error;
}

std::string whyLibraryFailed()
{
  if (!notStarted.empty())
    return notStarted;
  // On X11 a failed start usually means no display, and the library does not say so.
  const char *name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0')
    return "DISPLAY is not set, so there is no X display to open";
  // The library opens a connection, maps memory and starts a thread of its own: short of descriptors, memory or
  // processes, the same fail for the game, and the X library takes each for a display that cannot be opened.
  const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0 && (errno == EMFILE || errno == ENFILE))
    return std::string("not enough file descriptors to start (") + std::strerror(errno) + ")";
  if (probe >= 0)
    close(probe);
  if (!memoryToSpare(16 << 20))
    return std::string("not enough memory to start (") + std::strerror(errno) + ")";
  if (const int error = threadsToSpare())
    return threadShortage(error);
  Display *display = XOpenDisplay(nullptr);
  if (display == nullptr)
    return std::string("the X display ") + name + " could not be opened";
  XCloseDisplay(display);
  return std::string("the library could not start, though the X display ") + name + " opens";
}

// Gives the window its icon as today's desktops and docks read it, which the
// library's XPM (in WM_HINTS) is not: _NET_WM_ICON, each size's width and
// height, then its pixels as 0xAARRGGBB, in 32-bit cardinals (longs in Xlib).
// Sent a chunk at a time from a small buffer of its own, since memory may be
// short while the library starts.
static void iconWindow()
{
  static unsigned long chunk[4096];
  const Atom icon = XInternAtom(_xwin.display, "_NET_WM_ICON", False);
  std::size_t at = 0;
  int mode = PropModeReplace;
  const auto send = [&] {
    XChangeProperty(_xwin.display, _xwin.wm_window, icon, XA_CARDINAL, 32, mode,
                    reinterpret_cast<const unsigned char *>(chunk), static_cast<int>(at));
    mode = PropModeAppend;
    at = 0;
  };
  const auto put = [&](unsigned long cardinal) {
    if (at == std::size(chunk))
      send();
    chunk[at++] = cardinal;
  };
  const unsigned char *bgra = quarrowPixels;
  for (const unsigned long size : quarrowSizes) {
    put(size);
    put(size);
    for (unsigned long i = 0; i < size * size; i++, bgra += 4)
      put(static_cast<unsigned long>(bgra[3]) << 24 | bgra[2] << 16 | bgra[1] << 8 | bgra[0]);
  }
  send();
}

// The library's own window settings (title, class, icon), which markWindow adds to.
static void (*libraryDefaults)() = nullptr;

// Marks the window, before it is shown, with the game's process and the
// machine it runs on, by which tools find the process behind the window
// (openbox and xfwm4 offer no end to it on its close button).
static void markWindow()
{
  libraryDefaults();
  if (_xwin.wm_window == None)
    return;
  const long pid = getpid(); // a 32-bit property is a long in Xlib
  XChangeProperty(_xwin.display, _xwin.wm_window, XInternAtom(_xwin.display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char *>(&pid), 1);
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  char *hosts[] = {host};
  XTextProperty machine;
  if (XStringListToTextProperty(hosts, 1, &machine)) {
    XSetWMClientMachine(_xwin.display, _xwin.wm_window, &machine);
    XFree(machine.value);
  }
  iconWindow();
}

void nameWindow()
{
  // The library reads both when it makes its window, in its start-up.
  allegro_icon = const_cast<char **>(quarrow); // read only
  xwin_set_window_name("quarrow", "Quarrow");
  if (libraryDefaults == nullptr) {
    libraryDefaults = _xwin_window_defaultor;
    _xwin_window_defaultor = markWindow;
  }
}

// Drops a message of the ALSA library's.
static void dropAlsaMessage(const char *, int, const char *, int, const char *, ...) {}

void quietSoundProbe()
{
  // The library's ALSA module reports every device it looks for and does not
  // find, on a machine without a sound card nine lines. The game loads the same
  // libasound, kept for the module to share, and gives it a handler that drops
  // them; whether sound starts is still told by the library.
  void *alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
  using Handler = void (*)(const char *, int, const char *, int, const char *, ...);
  if (alsa != nullptr)
    if (auto setHandler = reinterpret_cast<int (*)(Handler)>(dlsym(alsa, "snd_lib_error_set_handler")))
      setHandler(dropAlsaMessage);
}

const char *soundRemedy()
{
  return "no sound device could be started; to play without sound, put the two lines [sound] and digi_card = 0 "
         "into ~/.allegrorc";
}

void showFailure(const char *)
{
  // Here standard error is where a player reads it: a terminal, or the box the
  // launcher shows when the game was started from a menu.
}
