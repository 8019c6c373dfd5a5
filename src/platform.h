// What differs between operating systems: opening the game's files without
// being fooled by links, FIFOs or devices, the standard streams, keeping the
// library's start-up, its message box and a lost display from hanging or
// crashing the game, and what the desktop shows of the game.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Opens /dev/null as each of standard input, output and error that is closed,
// and makes a write to a closed pipe or past a file size limit fail rather
// than end the game.
void openStandardStreams();
// Creates or empties the log file for writing, only if it is a regular file
// with no other name that no other game is writing; otherwise none, with the
// reason in `why`.
FILE *openLogFile(const char *path, std::string &why);
// Opens the map file for reading if it is a regular file or a directory
// (which reads as empty) and not the open log `log` under another name;
// otherwise none, with the reason in `why`.
FILE *openMapFile(const char *path, FILE *log, std::string &why);
// Reads a whole regular file into `bytes`, without blocking on a FIFO or a
// device; `size` is its size, and a file of more than `limit` bytes is not
// read. Returns why it could not be read, or nothing.
std::string readDataFile(const char *path, std::size_t limit, std::vector<std::uint8_t> &bytes, std::uint64_t &size);

// Runs `start`, the library's start-up, and returns its result, or -1 if it
// could not be run. A request to stop meanwhile ends the game at once, even
// while the display does not answer, but never through the handlers the
// library installs for crashes and requests: those are removed again
// afterwards.
int startLibrary(int (*start)());
// From now on a lost connection to the X display ends the game with status 1
// and one line on standard error, before the library's clean-up can run.
void endOnDisplayLoss();
// Runs `show`, which puts up the library's message box and waits until it is
// dismissed. The box ends with the game, however the game ends; its program
// is never taken from a folder the PATH names relatively. Where it is printed
// instead, it is printed at once.
void showMessage(void (*show)());
// Whether `bytes` more of address space can still be had (they are not kept).
bool memoryToSpare(std::size_t bytes);
// Why the library could not start, or could not be started, for when it does
// not say.
std::string whyLibraryFailed();

// Gives the game's window its own name and icon, and marks it with the game's
// process and machine, so that a desktop can match it to the menu entry and
// tools find its process. Runs before the library starts.
void nameWindow();
// Keeps the sound system's own complaints off standard error while the
// library looks for a sound device.
void quietSoundProbe();
// What a player without a sound device can do to start the game all the same.
const char *soundRemedy();
// Shows why the game could not start where a player with no terminal sees it.
void showFailure(const char *text);
