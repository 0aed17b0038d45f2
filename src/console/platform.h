// The services that the console dialogue needs from the system. Each platform
// defines them once, in a file of its own that the build chooses:
// platform_posix.cpp for terminals and pipes, platform_windows.cpp for the
// Windows console. The platform files also define clearConsole and
// beginAtomicWrite of console.h.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "console.h"

// ---- Provided by each platform ------------------------------------------------

// Sets the console up once for the whole run (code pages, the terminal settings to
// come back to, signals) so that every way out restores it. Returns whether texts
// are converted between the records' code page 1251 and a UTF-8 terminal.
bool prepareConsole();
// Puts the console back as it was found; harmless when nothing was changed.
void restoreConsole();
// Whether standard output is a terminal (on Windows a console).
bool outputIsTerminal();
// Whether bytes 0x80..0x9F of texts shown unconverted are control codes to the
// terminal (C1, on POSIX) rather than letters of the console's code page 1251.
bool takesC1Controls();

// kResumed: the program went on after a stop while it waited; nothing was read.
enum class Fill { kData, kEnded, kFailed, kResumed };

// Reads the input from descriptor `fd` from now on; returns whether it is a
// terminal (on Windows a console).
bool attachInput(int fd);
// Waits for input and reads what is there, at most `size` bytes; errno tells why
// when the input cannot be read. A stop and continue ends the wait (kResumed).
Fill readInput(char* bytes, std::size_t size, std::size_t* got);
// One key press at a terminal, without echo and without Enter, or KEY_RESUMED.
int readKeyPress();

// The line editor, where one is built in (libedit, on POSIX): starts it on the
// terminal `fd`; false where there is none, and lines are then read as they come.
bool startLineEditor(int fd);
// One line through the editor, with what was printed on the line so far as its
// prompt and the bytes typed before it was asked as the start of the line. The
// line comes with its line end; kEnded at the end of input. The editor takes the
// rest of its keys with takeByte.
Fill readEditedLine(const std::string& prompt, const std::string& typedAhead, std::string* line);
// While the editor has the terminal in its own mode, a signal that ends or stops
// the program gives the terminal back first, and a continue brings the editor's
// mode back (POSIX only).
void markLineEditing(bool active);

// Opens without waiting for the other end of a named pipe; reads and writes then
// wait as usual. Returns a descriptor, or -1 with errno set.
int openWithoutWaiting(const std::string& name, int flags);
// Puts what was written on the disk itself; false with errno set when it fails.
bool syncToDisk(std::FILE* stream);
// Gives the complete temporary file the target's name, replacing the old file;
// false with errno set when it fails.
bool putInPlace(const std::string& temporary, const std::string& target);
// Removes a temporary file that will not be put in place.
void removeTemporary(const std::string& temporary);

// ---- Lent by the dialogue to the platforms --------------------------------------

// The next byte of the input, or KEY_RESUMED when a continue after a stop ended
// the wait for it; the end of input ends the program.
int takeByte();
// Whether bytes already read are waiting to be taken.
bool bytesWaiting();

// ---- Lent by the portable file code to the platforms ------------------------------

// The system takes no NUL inside a name, and an empty name names nothing.
bool usableName(const std::string& name);
// A stream over the descriptor, which is closed when none can be made.
std::FILE* streamOf(int fd, const char* mode);
// Takes a temporary file just created as the stream of the write, or removes it.
bool adoptTemporary(int fd, const std::string& name, AtomicWrite* file);
