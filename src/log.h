// The game log: a plain text file that every start-up and shutdown stage writes to.
#pragma once

#include <cstddef>
#include <string>

// Creates (or empties) the log file; if it cannot be created, the log goes to standard error.
void openLog(const char *path);
// Writes one printf-style message to the log and flushes it.
void writeToLog(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Writes one printf-style line of the game's own to standard error, where a
// player reads why something went wrong, and keeps it for a failed start to show.
void tellPlayer(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Logs a failed start-up step, shuts the game down, shows the player everything
// told so far with the step, and exits with status 1.
[[noreturn]] void recordError(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Whether every message reached the log: false once a write to it failed.
bool logWhole();
// Flushes and closes the log.
void closeLog();
// A number with its thousands grouped, as a player reads it: "4,096".
std::string grouped(long long n);
// The most characters a line of a message box has, so that a box 640 pixels
// wide shows each whole (xmessage's font takes 9 pixels a character), and the
// most lines it has, so that it fits a screen.
constexpr std::size_t boxColumns = 66;
constexpr std::size_t boxLines = 24;
// `text` as a message box shows it: each line broken at spaces into lines of
// at most boxColumns characters (a longer word where it must be), at most
// boxLines of them. A longer text keeps its first line, which says what the
// box is about, and its last ones, where the reason stands, with a line
// between them saying how many were left out.
std::string boxText(const std::string &text);
