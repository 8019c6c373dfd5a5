// Windows. A file is opened by its own name, never through a link or another
// reparse point, then checked by what the open handle is, so nothing can be
// swapped in between. The map and the sheet are read in binary mode (text mode
// would stop at the first 0x1A byte); the log is text, with Windows' CR LF.
#include "platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <new>

// What an open handle is, as far as the game's files are concerned.
enum class Kind { file, directory, link, other };

// A UTF-8 path as Windows takes it.
static std::wstring widen(const char *path)
{
  const int size = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
  std::wstring wide(size > 0 ? size : 1, L'\0');
  if (size > 0)
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), size);
  wide.resize(std::wcslen(wide.c_str()));
  return wide;
}

// Why a system call failed, in the POSIX build's words where there are some.
static std::string reason(DWORD error)
{
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
    return "No such file or directory";
  if (error == ERROR_ACCESS_DENIED)
    return "Permission denied";
  char *text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
  std::string why = text != nullptr ? text : "system error " + std::to_string(error);
  LocalFree(text);
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == '.' || why.back() == ' '))
    why.pop_back();
  return why;
}

// Why a file of the game's folder cannot be opened, for the system's reason
// `error`, naming the folder: a game started elsewhere than its files, as a
// shortcut whose "Start in" folder lacks them starts it, shows where it looked.
static std::string unopened(DWORD error)
{
  const std::string why = reason(error);
  std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
  const DWORD length = folder.empty() ? 0 : GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
  folder.resize(length < folder.size() ? length : 0);
  std::string where(folder.size() * 3, '\0'); // UTF-8 takes at most three bytes for each UTF-16 unit
  where.resize(WideCharToMultiByte(CP_UTF8, 0, folder.data(), static_cast<int>(folder.size()), where.data(),
                                   static_cast<int>(where.size()), nullptr, nullptr));
  return "it cannot be opened in " + (where.empty() ? "the folder the game was started in" : where) + " (" + why + ")";
}

// Opens the file or directory named itself: a link or other reparse point is
// opened as what it is, not followed. Others may open it as `share` allows.
static HANDLE openItself(const char *path, DWORD access, DWORD disposition,
                         DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE)
{
  return CreateFileW(widen(path).c_str(), access, share, nullptr, disposition,
                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// What an open handle is; `info` receives its size and number of names.
static Kind kindOf(HANDLE handle, BY_HANDLE_FILE_INFORMATION &info)
{
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info))
    return Kind::other;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return Kind::link;
  return info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? Kind::directory : Kind::file;
}

// Why a file of this kind is not read or written.
static std::string refusal(Kind kind)
{
  return kind == Kind::link ? "it is a symbolic link" : "it is not a regular file";
}

// A C stream over an open handle, which it then owns, in the mode `flags`
// gives (_O_BINARY or _O_TEXT); none if that fails, and the handle is closed.
static FILE *streamOf(HANDLE handle, int flags, const char *mode)
{
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE *file = _fdopen(fd, mode);
  if (file == nullptr)
    _close(fd);
  return file;
}

void openStandardStreams()
{
  // A program without a console may have no standard streams at all; NUL takes
  // their place, so that the log never takes one of their numbers.
  for (int fd = 0; fd <= 2; fd++)
    if (_get_osfhandle(fd) == -1) {
      const int null = _open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
      if (null >= 0 && null != fd)
        _dup2(null, fd), _close(null);
    }
}

FILE *openLogFile(const char *path, std::string &why)
{
  // Emptied only once it is known to be a file of its own: a data folder from
  // elsewhere must not make the log overwrite some other file.
  // Others may read and write it, as a viewer or an indexer may ask to; a
  // program that lets nobody write it meanwhile gets the system's own words.
  const HANDLE handle = openItself(path, GENERIC_WRITE, OPEN_ALWAYS);
  if (handle == INVALID_HANDLE_VALUE) {
    why = reason(GetLastError());
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const Kind kind = kindOf(handle, info);
  const bool own = kind == Kind::file && info.nNumberOfLinks == 1;
  // A second game started in the same folder leaves the first one's log whole.
  // Its lock is on one byte far past any end a log reaches, since nobody else
  // may read a locked byte; where the file system keeps no locks, the log is
  // written as before.
  OVERLAPPED beyond = {};
  beyond.Offset = MAXDWORD;
  beyond.OffsetHigh = MAXLONG;
  const bool taken = own &&
                     !LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &beyond) &&
                     GetLastError() == ERROR_LOCK_VIOLATION;
  if (own && !taken && SetEndOfFile(handle))
    if (FILE *file = streamOf(handle, _O_WRONLY | _O_TEXT, "w"))
      return file;
  why = kind != Kind::file        ? refusal(kind)
        : info.nNumberOfLinks > 1 ? "it has other hard links"
        : taken                   ? "another game is writing it"
                                  : reason(GetLastError());
  CloseHandle(handle);
  return nullptr;
}

FILE *openMapFile(const char *path, FILE *log, std::string &why)
{
  const HANDLE handle = openItself(path, GENERIC_READ, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) {
    why = unopened(GetLastError());
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info, logInfo;
  const Kind kind = kindOf(handle, info);
  // The log read as the map would grow as fast as it is read.
  const HANDLE logHandle =
      log != nullptr && log != stderr ? reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(log))) : INVALID_HANDLE_VALUE;
  const bool isLog = logHandle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(logHandle, &logInfo) &&
                     info.dwVolumeSerialNumber == logInfo.dwVolumeSerialNumber &&
                     info.nFileIndexHigh == logInfo.nFileIndexHigh && info.nFileIndexLow == logInfo.nFileIndexLow;
  if (kind == Kind::file && !isLog)
    return streamOf(handle, _O_RDONLY | _O_BINARY, "rb");
  CloseHandle(handle);
  why = isLog ? "it is the log under another name" : refusal(kind);
  // A directory reads as an empty map, as it does on POSIX systems.
  return kind == Kind::directory ? _wfopen(L"NUL", L"rb") : nullptr;
}

std::string readDataFile(const char *path, std::size_t limit, std::vector<std::uint8_t> &bytes, std::uint64_t &size)
{
  bytes.clear();
  size = 0;
  const HANDLE handle = openItself(path, GENERIC_READ, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE)
    return unopened(GetLastError());
  std::string why;
  BY_HANDLE_FILE_INFORMATION info;
  const Kind kind = kindOf(handle, info);
  if (kind != Kind::file) {
    why = refusal(kind);
  } else if ((size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow) <= limit) {
    // A file that shrinks meanwhile keeps what was read; one that grows is read to its stated size.
    bytes.resize(size);
    std::size_t got = 0;
    DWORD n = 0;
    while (got < bytes.size() &&
           ReadFile(handle, bytes.data() + got, static_cast<DWORD>(std::min<std::size_t>(bytes.size() - got, 1 << 30)),
                    &n, nullptr) &&
           n > 0)
      got += n;
    bytes.resize(got);
  }
  CloseHandle(handle);
  return why;
}

int startLibrary(int (*start)())
{
  // The library installs no signal handlers here: a crash ends the game as
  // Windows ends any program, and there are no stop signals to guard.
  return start();
}

void endOnDisplayLoss()
{
  // There is no display connection to lose: the window belongs to the system.
}

void showMessage(void (*show)())
{
  // The message box is a window of the game's own and ends with it.
  show();
}

bool memoryToSpare(std::size_t bytes)
{
  // Reserved, never committed: only the address space is asked for.
  void *memory = VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS);
  if (memory == nullptr)
    return false;
  VirtualFree(memory, 0, MEM_RELEASE);
  return true;
}

std::string whyLibraryFailed()
{
  return "the library could not create its window";
}

void nameWindow()
{
  // The window's icon is the resource named allegro_icon, which the library
  // loads itself; Windows names the window by its program.
}

void quietSoundProbe()
{
  // DirectSound prints nothing of its own.
}

const char *soundRemedy()
{
  return "no sound device could be started; to play without sound, put a file allegro.cfg beside quarrow.exe "
         "holding the two lines [sound] and digi_card = 0";
}

void showFailure(const char *text)
{
  // A program started from Explorer has no console: what it would have printed
  // there is shown in a box, which the player dismisses before the game ends.
  const UINT style = MB_OK | MB_ICONERROR | MB_SETFOREGROUND;
  try {
    MessageBoxW(nullptr, widen(text).c_str(), L"Quarrow", style);
  } catch (const std::bad_alloc &) { // memory may be what ran short
    MessageBoxA(nullptr, text, "Quarrow", style);
  }
}
