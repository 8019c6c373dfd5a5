// Helpers that run the real game in a scratch directory on the test's X display,
// and build what its log and window must hold from the data files alone.
#pragma once

#include <allegro.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// Last: its macros (None, Bool, Status) clash with the headers above.
#include <X11/Xlib.h>

namespace fs = std::filesystem;

inline std::string readFile(const fs::path &path)
{
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const fs::path &path, const std::string &text)
{
  std::ofstream(path, std::ios::binary) << text;
}

// A new directory holding copies of the game's data files, removed afterwards.
struct Scratch {
  fs::path dir;
  Scratch()
  {
    std::string name = (fs::temp_directory_path() / "quarrow-XXXXXX").string();
    dir = mkdtemp(name.data());
    for (const char *file : {"map.txt", "untitled.bmp"})
      fs::copy_file(fs::path(DATA_DIR) / file, dir / file);
  }
  ~Scratch() { fs::remove_all(dir); }
  std::string log() const { return readFile(dir / "gamelog.txt"); }
  // What the game printed on standard output and standard error.
  std::string output() const { return readFile(dir / "output.txt"); }
};

// The game started in a directory, with "NAME=value" set and "NAME" unset in its environment.
// PATH holds no xmessage, so the library's message box is printed instead.
struct Game {
  pid_t pid;
  explicit Game(const fs::path &dir, const std::vector<std::string> &env = {})
  {
    pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0 || !std::freopen("output.txt", "w", stdout))
        _exit(126);
      dup2(STDOUT_FILENO, STDERR_FILENO);
      setenv("PATH", "/nonexistent", 1);
      for (const std::string &var : env)
        var.find('=') == std::string::npos ? unsetenv(var.c_str()) : putenv(strdup(var.c_str()));
      execl(QUARROW_EXE, "quarrow", nullptr);
      _exit(127);
    }
  }
  // Exit status, 128 + signal when killed, -1 when it was still running after the time limit.
  int wait(int seconds = 60)
  {
    for (int i = 0; i < seconds * 100; i++, usleep(10000)) {
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
};

// Texts of the log that do not depend on the map file.
const std::string banner = std::string("-Quarrow---------------------Version: 0.1, Started: July "
                                       "22nd, 2006Created by: Pelmark--------------------"
                                       "Initalizating the Allegro Library") +
                           allegro_id + "\n";
const std::string gfxLines = "Initalizing Graphics Mode\n640 X 480 X 32 bit\n";
const std::string soundLine = "Initalizing Sound System...\n";
const std::string partsLine = "Installing game componets...\n";
const std::string shutdownLines = "Quitting game...\n\nGame closed successfully!\n--- End Log ---";

// The log of a run that reads a map file of `chars` characters (none: no map file at all).
inline std::string normalLog(long chars)
{
  std::string log = banner + gfxLines + soundLine + partsLine + "Opening Map File...\n";
  if (chars >= 0)
    log += "Getting first character...\n";
  for (long i = 0; i < chars; i++)
    log += "First while loop\nSetting map to character from mapGot the character...\n";
  return log + "Loaded MapCreated Map" + shutdownLines;
}
