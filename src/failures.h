// How the program reports a failure, and how it ends: what standard output holds
// goes first, and output that was lost makes the end a failure.
#pragma once

#include <string>

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
// Calls `handler` with the exit status instead of ending the process, for a harness
// that runs many sessions in one process; the handler must not return.
void onProgramEnd(void (*handler)(int status));
