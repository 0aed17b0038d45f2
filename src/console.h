// Console dialogue: every word the program exchanges with the user, and every
// service it needs from the platform (terminal modes, code pages, files on disk).
// The register reads and writes the records of the school files it opens with
// the standard streams' own calls; all else that touches the system is here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "console/codepage.h"

// ---- Start-up -----------------------------------------------------------------

// Prepares the console once at start: decides whether texts are converted between
// the record's code page 1251 and a UTF-8 terminal, buffers standard output, and
// makes sure the terminal is restored on every way out.
void setCodePage();
// Notes what the program's own streams are, so that no write replaces them; a
// stream closed at start stays closed. Called by setCodePage.
void noteStandardStreams();
// Prepares instead a run that converts files with no dialogue: standard input and
// output carry bytes untranslated (on Windows too), the console stays as found, and
// a school file being written is guarded as in the dialogue (signals, file-size
// limits, the program's own streams).
void setBinaryStreams();

// ---- Output -------------------------------------------------------------------

// Formatted program text (the program's own ASCII texts and numbers).
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The text followed by one line end.
void printLine(const char* text);

// Output put together in the caller's buffer and printed with one call, for what a
// listing prints once per school. Each put writes at `out` and returns the end.
// The number in decimal, as "%d" prints it: at most 11 bytes.
char* putNumber(std::int32_t value, char* out);
// A record text of at most `size` bytes, up to its NUL, as the terminal shows it:
// at most textRoom(size) bytes.
char* putText(const char* text, std::size_t size, char* out);
// Prints the bytes as they are.
void printBytes(const char* bytes, std::size_t size);

// ---- Input --------------------------------------------------------------------
// Input is one byte stream. Line and number reads take it a whole line at a time
// into the pending line; key reads take the bytes that no line read has taken.
// The end of input ends the program (one line end, status 0).

// Takes the pending line, or the next line, without its line end, exactly as typed.
// Returns false only when the input cannot be read.
bool readLine(std::string* line);
// Like readLine, for a record text: converted to code page 1251 when the terminal
// speaks UTF-8, cut to size - 1 bytes, the rest of the field filled with NULs.
// On failure the field keeps its contents.
bool readText(char* field, std::size_t size);
// Skips white space (line ends included), then takes a signed decimal number in
// the 32-bit range. When none can be formed the target keeps its value and the
// offending input stays pending.
void readNumber(std::int32_t* target);
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
// "Press any key to continue . . . ", one key, one line end.
void pauseConsole();

// A listing between these two goes a screenful at a time where a person reads and
// types at a terminal: when the screen is full it waits for one key on the line
// "-- more (any key; q stops) --", which is then wiped. Elsewhere all of it passes.
void beginPages();
// Whether the listing goes on: false once q was pressed, and what it prints is dropped.
bool pagesGoOn();
void endPages();

// ---- Failures -----------------------------------------------------------------

// A reason of the program's own, beside the system's error numbers.
enum { kReasonTerminal = -1 };  // a file that is a terminal takes no records
// "<prefix>: <reason>" on standard error; the reason alone for an empty prefix.
void reportStreamError(const char* prefix, int reason);
// The message on standard output, then the file's name as typed and the reason
// on standard error.
void reportFileError(const char* message, const std::string& name, int reason);
// Formatted text on standard error, after what standard output has so far.
void printError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Ends the program with `status`, or with 1 when standard output was lost, which
// is then reported.
[[noreturn]] void endProgram(int status);

// ---- School files on disk -----------------------------------------------------

// Opens an existing file for binary reading; a folder counts as a file that
// cannot be opened, and so does a name holding a NUL byte. Returns null, with the
// reason, on failure.
std::FILE* openForReading(const std::string& name, int* reason);

// A file being written so that the old contents survive any failure: records go
// to a temporary file beside it, which takes the file's name only when complete
// and takes over its owner, group, permissions and extended attributes. A
// symbolic link is followed only where the system lets this process open it for
// writing. Names that are not regular files (devices, pipes) are written to
// directly; the program's own standard output and error are written through their
// streams, its standard input and terminals refused.
struct AtomicWrite {
    std::FILE* stream = nullptr;  // where the records go
    std::string target;           // the file that will hold them
    std::string temporary;        // empty when writing to the target directly
    bool createdTarget = false;   // a dangling link's target, created by the open
    unsigned finalMode = 0;       // permissions with special bits, set once written
};

// Whether the name leads to the file open as `stream` (false where the system
// cannot tell).
bool namesFileOf(const std::string& name, std::FILE* stream);

// Each returns 0, or the reason of a failure; after a failure nothing is left
// behind and the old file is as it was.
int beginAtomicWrite(const std::string& name, AtomicWrite* file);
// Flushes, syncs and closes, then puts the file in place.
int finishAtomicWrite(AtomicWrite* file);
// Gives up after a write error: the old file stays as it was.
void abandonAtomicWrite(AtomicWrite* file);

// After a load, on standard error: the file's last `bytes` bytes, too few for a
// school, were not loaded.
void reportTornEnd(const std::string& name, std::size_t bytes);

// ---- Pieces exposed for their tests ---------------------------------------------

// Reads input from this descriptor instead of standard input.
void useInput(int fd);
// Calls `handler` with the exit status instead of ending the process, for a harness
// that runs many sessions in one process; the handler must not return.
void onProgramEnd(void (*handler)(int status));
// Parses a number at the start of `text` as readNumber does, after its white space.
// Returns the count of bytes used, 0 when no number can be formed.
std::size_t parseNumber(const char* text, std::size_t size, std::int32_t* value);
