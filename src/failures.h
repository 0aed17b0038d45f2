// How the program reports a failure, and how it ends: what standard output holds
// goes first, and output that was lost makes the end a failure.
#pragma once

#include <string>

// Why something failed: the error number that the failed call set (errno's
// values), or a reason of the program's own, which is none of them.
struct Reason {
    int error = 0;  // 0: no error number
    // kTerminal: a terminal takes no school records; kTemporary, kCopy: the error
    // is the folder's, which a temporary file or the copy of old contents must go to.
    enum Own { kNone, kTerminal, kTemporary, kCopy } own = kNone;
    std::string folder =
        std::string();  // for kTemporary and kCopy, as the name gives it ("./" for none)
};
inline bool failed(const Reason& reason) {
    return reason.error != 0 || reason.own != Reason::kNone;
}
// "<prefix>: <reason>" on standard error; the reason alone for an empty prefix.
// A folder's reason says what the folder must take.
void reportStreamError(const char* prefix, Reason reason);
// The message on standard output, then the file's name as typed (the folder, for
// a folder's reason) and the reason on standard error.
void reportFileError(const char* message, const std::string& name, Reason reason);
// The name that a message of the reason gives: the folder's for a folder's reason.
std::string shownName(const std::string& name, const Reason& reason);
// Formatted text on standard error, after what standard output has so far.
void printError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A copy of a file's old contents stayed behind: a program that would end with
// status 0 ends with 3.
void noteStaleCopy();
// Ends the program with `status`, or with 1 when standard output was lost, which
// is then reported.
[[noreturn]] void endProgram(int status);
// Makes every allocation that fails end the program: "schools: out of memory" on
// standard error, a temporary file removed, status 1. Called at start.
void watchMemory();
// The same at once, for the allocations made without `new`.
[[noreturn]] void outOfMemory();
// Calls `handler` with the exit status instead of ending the process, for a harness
// that runs many sessions in one process; the handler must not return.
void onProgramEnd(void (*handler)(int status));
