// What the tests and the benchmark share: programs started with a time limit, in a scratch directory with the
// game's data, a virtual X display of the process's own, and a program's window found by its process id and
// read back pixel by pixel.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Starts argv[0] from the PATH in `dir`, with `env` ("NAME=value" sets, "-NAME" unsets), standard input
// from /dev/null and standard output and error to `output`, plus `keep` as the child's descriptor 3.
inline pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
                   const fs::path &dir = ".", const fs::path &output = "/dev/null", int keep = -1)
{
  std::vector<std::string> vars;
  for (char **var = environ; *var; var++)
    vars.push_back(*var);
  for (const std::string &change : env) {
    const bool unset = change[0] == '-';
    const std::string name = (unset ? change.substr(1) : change.substr(0, change.find('='))) + "=";
    vars.erase(std::remove_if(vars.begin(), vars.end(), [&](const std::string &var) { return !var.rfind(name, 0); }),
               vars.end());
    if (!unset)
      vars.push_back(change);
  }
  std::vector<char *> args, envp;
  for (const std::string &arg : argv)
    args.push_back(const_cast<char *>(arg.c_str()));
  for (const std::string &var : vars)
    envp.push_back(const_cast<char *>(var.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (keep >= 0)
    posix_spawn_file_actions_adddup2(&actions, keep, 3);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Environment entries that preload a library into a program. The loader splits LD_PRELOAD at spaces, so
// the library is named alone there and found through LD_LIBRARY_PATH, which takes any path.
inline std::vector<std::string> preload(const fs::path &library)
{
  return {"LD_PRELOAD=" + library.filename().string(), "LD_LIBRARY_PATH=" + library.parent_path().string()};
}

// Asks `done` every `step` until it answers yes or `seconds` have passed (once at least): whether it did.
inline bool until(double seconds, const std::function<bool()> &done,
                  std::chrono::microseconds step = std::chrono::milliseconds(20))
{
  for (const auto end = Clock::now() + std::chrono::duration<double>(seconds); !done();
       std::this_thread::sleep_for(step))
    if (Clock::now() >= end)
      return false;
  return true;
}

// Waits up to `seconds` for a child to end: its exit status, 128 + the signal that ended it, or -1.
// `usage`, if given, receives what the child used.
inline int finish(pid_t pid, double seconds, rusage *usage = nullptr)
{
  int status = 0;
  if (!until(seconds, [&] { return wait4(pid, &status, WNOHANG, usage) == pid; }))
    return -1;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// A regular file's bytes, or "" when it is none or cannot be read.
inline std::string slurp(const fs::path &path)
{
  std::error_code error;
  if (!fs::is_regular_file(path, error))
    return "";
  std::ifstream file(path, std::ios::binary);
  try { // a process's file under /proc fails its read (ESRCH), which the library throws, once the process has gone
    return std::string(std::istreambuf_iterator<char>(file), {});
  } catch (const std::ios_base::failure &) {
    return "";
  }
}

// A scratch file of the caller's own holding `bytes`, removed when it goes.
struct Scratch {
  std::string path = (fs::temp_directory_path() / "quarrow-scratch-XXXXXX").string();
  explicit Scratch(const std::vector<std::uint8_t> &bytes = {})
  {
    close(mkstemp(path.data()));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  }
  ~Scratch() { std::remove(path.c_str()); }
};

// Runs a tool for at most `seconds` and returns what it printed (standard error included).
inline std::string run(const std::vector<std::string> &argv, int seconds = 30)
{
  std::vector<std::string> bounded = {"timeout", "-k", "5", std::to_string(seconds)};
  bounded.insert(bounded.end(), argv.begin(), argv.end());
  const Scratch output;
  finish(spawn(bounded, {}, ".", output.path), seconds + 10);
  return slurp(output.path);
}

// A process's state letter from /proc ('Z' for one that has ended but is not yet waited for), or 0 when
// there is no such process; `parent` receives its parent's id.
inline char stateOf(pid_t pid, pid_t *parent = nullptr)
{
  const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  // "pid (name) state ppid ...", where the name may hold anything, ')' too.
  const size_t after = stat.rfind(')');
  char state = 0;
  long up = 0;
  if (after == std::string::npos || std::sscanf(stat.c_str() + after + 1, " %c %ld", &state, &up) != 2)
    return 0;
  if (parent)
    *parent = static_cast<pid_t>(up);
  return state;
}

// The processes whose parent is `parent`.
inline std::vector<pid_t> childrenOf(pid_t parent)
{
  std::vector<pid_t> children;
  std::error_code error;
  for (fs::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
    const pid_t pid = static_cast<pid_t>(std::atol(entry->path().filename().c_str()));
    pid_t up = 0;
    if (pid > 0 && stateOf(pid, &up) && up == parent)
      children.push_back(pid);
  }
  return children;
}

// An Xvfb on a free display, ended by timeout(1) after 15 minutes should nobody end it first, and with SIGTERM,
// which lets the server remove its lock file, when it goes.
struct Xvfb {
  pid_t pid = -1;   // timeout's, which passes a SIGTERM on to the server
  std::string name; // ":1", or "" if it did not start
  Xvfb()
  {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return;
    // -noreset: a server that resets when its last client leaves drops a client that connects meanwhile.
    pid = spawn(
        {"timeout", "900", "Xvfb", "-displayfd", "3", "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
        {}, ".", "/dev/null", fds[1]);
    close(fds[1]);
    // Xvfb writes the number and the line end separately, and fails if the pipe closes in between.
    std::string number;
    pollfd ready = {fds[0], POLLIN, 0};
    for (char c = 0; c != '\n' && poll(&ready, 1, 20000) == 1 && read(fds[0], &c, 1) == 1;)
      number += c;
    close(fds[0]);
    name = number.size() > 1 && number.back() == '\n' ? ":" + number.substr(0, number.size() - 1) : "";
  }
  // The server itself, or -1.
  pid_t server() const
  {
    const std::vector<pid_t> children = childrenOf(pid);
    return children.empty() ? -1 : children[0];
  }
  // Ends the server, stopped or not.
  void end()
  {
    if (pid < 0)
      return;
    if (const pid_t stopped = server(); stopped > 0)
      kill(stopped, SIGCONT);
    kill(pid, SIGTERM);
    finish(pid, 10);
    pid = -1;
  }
  ~Xvfb() { end(); }
};

// The connection to an Xvfb of this process's own, set as DISPLAY for everything it starts; it ends with the
// process, and on its own after 15 minutes should the process die first.
inline Display *xDisplay()
{
  static Xvfb server;
  static Display *const display = [] {
    setenv("DISPLAY", server.name.c_str(), 1);
    Display *opened = XOpenDisplay(nullptr);
    if (opened == nullptr)
      throw std::runtime_error("Xvfb did not start");
    // A window that closes while it is read must not end the test process.
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
    return opened;
  }();
  return display;
}

// The first viewable window anywhere under `parent` (a window manager may have put it in a frame of its own)
// that `wanted` takes, given the id of the process that owns it (through the X-Resource extension) and its
// attributes; 0 if none.
inline Window findWindow(const std::function<bool(Window, pid_t, const XWindowAttributes &)> &wanted, Window parent = 0)
{
  Display *x = xDisplay();
  Window root, up, *children = nullptr, found = 0;
  unsigned count = 0;
  XQueryTree(x, parent ? parent : DefaultRootWindow(x), &root, &up, &children, &count);
  for (unsigned i = 0; i < count && found == 0; i++) {
    XResClientIdSpec query = {children[i], XRES_CLIENT_ID_PID_MASK};
    long owners = 0;
    XResClientIdValue *ids = nullptr;
    XWindowAttributes window;
    if (XResQueryClientIds(x, 1, &query, &owners, &ids) == Success) {
      for (long j = 0; j < owners; j++)
        if (XGetWindowAttributes(x, children[i], &window) && window.map_state == IsViewable &&
            wanted(children[i], XResGetClientPid(&ids[j]), window))
          found = children[i];
      XResClientIdsDestroy(owners, ids);
    }
    found = found ? found : findWindow(wanted, children[i]);
  }
  XFree(children);
  return found;
}

// The viewable 640 x 480 window of a process; 0 if none.
inline Window windowOf(pid_t pid)
{
  return findWindow([pid](Window, pid_t owner, const XWindowAttributes &window) {
    return owner == pid && window.width == 640 && window.height == 480;
  });
}

// A program started in a new scratch directory holding the game's data files, once the shell command `setup`
// has run there (its status in `prepared`): with `env` changed, standard output and error into `output`
// there. It is killed if it still runs, and its directory removed, when it goes; should its starter die first, it
// ends once it has used five minutes of processor.
struct Process {
  fs::path dir;
  std::string output = "output.txt";
  pid_t pid = -1;
  int status = -1, prepared = -1;
  bool own = true;             // whether `dir` is its own, to be removed with it
  Clock::time_point started{}; // just before it was started
  Process(const std::vector<std::string> &argv, const std::vector<std::string> &env = {},
          const std::string &setup = ":")
  {
    xDisplay(); // first: should it fail, no directory is left behind
    char name[] = "/tmp/quarrow-XXXXXX";
    dir = mkdtemp(name);
    for (const char *file : {"map.txt", "untitled.bmp"})
      fs::copy_file(fs::path(DATA_DIR) / file, dir / file);
    prepared = finish(spawn({"timeout", "30", "sh", "-c", setup}, {}, dir), 40);
    start(argv, env);
  }
  // Another program in the directory of `first`, its output in `output`.
  Process(const Process &first, const std::string &output, const std::vector<std::string> &argv,
          const std::vector<std::string> &env)
      : dir(first.dir), output(output), prepared(0), own(false)
  {
    start(argv, env);
  }
  ~Process()
  {
    if (wait(0) < 0) {
      kill(pid, SIGKILL);
      finish(pid, 10);
    }
    if (own)
      fs::remove_all(dir);
  }
  void start(const std::vector<std::string> &argv, const std::vector<std::string> &env)
  {
    started = Clock::now();
    pid = spawn(argv, env, dir, dir / output);
    const rlimit cpu = {300, 300};
    prlimit(pid, RLIMIT_CPU, &cpu, nullptr);
  }
  // What it printed so far.
  std::string printed() const { return slurp(dir / output); }
  // The exit status after at most `seconds` (128 + signal when a signal ended it), or -1; `usage` receives what
  // it used.
  int wait(double seconds = 60, rusage *usage = nullptr)
  {
    if (status < 0)
      status = finish(pid, seconds, usage);
    return status;
  }
  // Runs an xdotool command chain with `window` focused first.
  static void keys(Window window, const std::string &chain)
  {
    std::vector<std::string> argv = {"xdotool", "windowfocus", "--sync", std::to_string(window)};
    std::istringstream words(chain);
    for (std::string word; words >> word;)
      argv.push_back(word);
    run(argv);
  }
};

// The top-left `width` x `height` pixels of a window as RGB bytes, or "" when they cannot be read.
inline std::string grab(Window window, int width = 640, int height = 480)
{
  XImage *image = window ? XGetImage(xDisplay(), window, 0, 0, width, height, AllPlanes, ZPixmap) : nullptr;
  std::string rgb;
  for (int y = 0; image && y < height; y++)
    for (int x = 0; x < width; x++) {
      const unsigned long pixel = XGetPixel(image, x, y);
      rgb += {char(pixel >> 16), char(pixel >> 8), char(pixel)};
    }
  if (image)
    XDestroyImage(image);
  return rgb;
}
