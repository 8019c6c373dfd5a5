// What differs between operating systems: opening the game's files without
// being fooled by links, FIFOs or devices, and starting the library so that a
// crash or a request to stop still ends the game at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Creates or empties the log file for writing, only if it is a regular file
// with no other name; otherwise none, with the reason in `why`.
FILE *openLogFile(const char *path, std::string &why);
// Opens the map file for reading if it is a regular file or a directory
// (which reads as empty); otherwise none.
FILE *openMapFile(const char *path);
// Reads a whole regular file into `bytes`, without blocking on a FIFO or a
// device; `size` is its size, and a file of more than `limit` bytes is not
// read. Returns why it could not be read, or nothing.
std::string readDataFile(const char *path, std::size_t limit, std::vector<std::uint8_t> &bytes, std::uint64_t &size);
// Runs `start`, the library's start-up, and returns its result. Afterwards a
// crash or a request to stop ends the game at once, as it would without the
// library, whose own clean-up can hang after a crash.
int startLibrary(int (*start)());
// Why the library could not start, for when it does not say.
std::string whyLibraryFailed();
