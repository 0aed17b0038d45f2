// What the system provides to the console unit, declared once and defined by the
// file the build chooses: platform_posix.cpp for terminals and pipes,
// platform_windows.cpp for the Windows console. These are leaves: system calls and
// their translation into plain results, calling nothing outside this folder. A
// failure comes back as its error number (errno's values), 0 meaning success.
#pragma once

#include <cstddef>
#include <string>

// The Windows console gives a cursor or function key as two codes: 0xE0 (0 for a
// function key) and its scan code. Its reader brings them after this ESC, as a
// terminal would, for the one key decoder above.
constexpr char kKeyEscape = 27;
constexpr int kConsoleKeyPrefix = 0xE0;

// ---- The console ----------------------------------------------------------------

// Sets the console up once for the whole run (code pages, the terminal settings to
// come back to, signals) so that every way out restores it.
void prepareConsole();
// The locale that the environment names for characters (LC_ALL, LC_CTYPE or LANG,
// the first one set), whose character set the terminal speaks; empty where none is
// set, and on Windows, whose console shows code page 1251 itself.
const char* localeName();
// Sets up instead a run that converts files and leaves the console as it is:
// standard input and output untranslated, signals as prepareConsole sets them.
void prepareFileRun();
// Puts the console back as it was found; harmless when nothing was changed.
void restoreConsole();
// Whether standard output is a terminal (on Windows a console).
bool outputIsTerminal();
// The rows of the window that shows standard output; 0 when unknown.
int screenRows();
// Its columns; 0 when unknown.
int screenColumns();
// Key mode: keys arrive one at a time, without echo and without Enter, until
// leaveKeyMode. On Windows each read then takes one key press from the console.
void enterKeyMode();
void leaveKeyMode();
// Blanks the screen and homes the cursor, where the terminal knows how.
void clearScreen();
// Whether bytes 0x80..0x9F of texts shown unconverted are control codes to the
// terminal (C1, on POSIX) rather than letters of the console's code page 1251.
bool takesC1Controls();

// ---- Console text -----------------------------------------------------------------

// Whether standard output (1) or standard error (2) is a console that takes text as
// characters rather than bytes: on Windows, as UTF-16 through WriteConsoleW.
bool takesConsoleText(int fd);
// Writes text of code page 1251 to that console, converted with the program's own
// table of it; 0, or why it failed.
int writeConsoleText(int fd, const char* bytes, std::size_t size);

// ---- Input ------------------------------------------------------------------------

// kResumed: the program went on after a stop while it waited; nothing was read.
enum class Fill { kData, kEnded, kFailed, kResumed };
struct Received {
    Fill fill;
    std::size_t size;  // with kData
    int error;         // with kFailed
};

// Reads the input from descriptor `fd` from now on; returns whether it is a
// terminal (on Windows a console).
bool attachInput(int fd);
// Waits for input and reads what is there, at most `size` bytes. A stop and
// continue ends the wait (kResumed).
Received readInput(char* bytes, std::size_t size);
// Whether more input arrives within `ms` milliseconds.
bool inputArrivesWithin(int ms);

// While the editor has the terminal in its own mode, a signal that ends or stops
// the program gives the terminal back first, and a continue brings the editor's
// mode back (POSIX only).
void markLineEditing(bool active);
