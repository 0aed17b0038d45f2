// Console dialogue: every word the program exchanges with the user at the console.
// School files on disk are in files/school_files.h, failures in failures.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "text/codepage.h"
#include "text/numbers.h"

// ---- Start-up -----------------------------------------------------------------

// Prepares the console once at start, after the memory watch and the standard
// streams (main): decides whether texts are converted between the record's code
// page 1251 and a UTF-8 terminal, buffers standard output, and makes sure the
// terminal is restored on every way out.
void setCodePage();

// ---- Output -------------------------------------------------------------------

// Formatted program text (the program's own ASCII texts and numbers).
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The text followed by one line end.
void printLine(const char* text);

// Output put together in the caller's buffer and printed with one call, for what a
// listing prints once per school. Each put writes at `out` and returns the end.
// A record text of at most `size` bytes, up to its NUL, as the terminal shows it:
// at most textRoom(size) bytes.
char* putText(const char* text, std::size_t size, char* out);
// Prints the bytes as they are.
void printBytes(const char* bytes, std::size_t size);
// Whether standard output is a terminal (on Windows a console), where texts show
// their controls as '?'.
bool printsToTerminal();

// ---- Input --------------------------------------------------------------------
// Input is one byte stream. Line and number reads take it a whole line at a time
// into the pending line; key reads take the bytes that no line read has taken.
// The end of input ends the program (one line end, status 0), and so does input
// that cannot be read (one line end, the reason on standard error, status 1).

// Takes the pending line, or the next line, without its line end, exactly as typed.
void readLine(std::string* line);
// Like readLine, for a record text: converted to code page 1251 when the terminal
// speaks UTF-8, cut to size - 1 bytes, the rest of the field filled with NULs. At
// a terminal the line editor takes no more than size - 1 characters (a bell), and
// without it a line says that a longer text was cut.
void readText(char* field, std::size_t size);
// Reads a whole number for `prompt`, just printed: skips white space (line ends
// included), then takes the next word, up to a blank, tab or line end. A sign and
// decimal digits in the 32-bit range are the number, and the rest of the line stays
// pending. Any other word drops the rest of its line, prints the line
// "\nNot a whole number!" and the prompt again, and reads anew.
void readNumber(const char* prompt, std::int32_t* target);
// Prints the question, formatted, drops the rest of the pending line and reads
// the reply: true for yes. From a script only "yes" (or its translation) is yes
// and any other line no. At a terminal yes and no come in any case, as y and n,
// or as their translations; any other reply asks again.
bool readYes(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Whether the keys come from a terminal (on Windows a console), where a person is
// asked before work is lost.
bool inputIsTerminal();
// Throws away the rest of the pending line; lines typed ahead stay.
void discardInput();
// The next key, without echo and without Enter. An escape sequence from a cursor
// or function key on a terminal comes back as one ESC. KEY_RESUMED says that the
// program went on after a stop (Ctrl-Z, then fg) while it waited: the caller draws
// again what it had shown, then waits anew. Only at a POSIX terminal.
int readKey();

enum { KEY_ESCAPE = 27, KEY_RESUMED = 0x100 };

// ---- Screen -------------------------------------------------------------------

// Blanks the screen and homes the cursor, on a terminal that knows how.
void clearConsole();
// "Press any key to continue . . . ", one key, one line end. At a terminal, or
// where the texts are translated, the prompt begins a line of its own.
void pauseConsole();

// A listing between these two goes a screenful at a time where a person reads and
// types at a terminal: when the screen is full it waits for one key on the line
// "-- more (any key; q stops) --", which is then wiped. Elsewhere all of it passes.
void beginPages();
// Whether the listing goes on: false once q was pressed, and what it prints is dropped.
bool pagesGoOn();
void endPages();

// ---- Pieces exposed for their tests ---------------------------------------------

// Reads input from this descriptor instead of standard input.
void useInput(int fd);
