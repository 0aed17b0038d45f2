// How the program reports a failure, and how it ends: what standard output
// holds goes first, and output that was lost makes the end a failure.
#include "failures.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "system/file_calls.h"
#include "system/output.h"
#include "system/platform.h"
#include "translate.h"

namespace {

void (*endHandler)(int status) = nullptr;
bool staleCopy = false;

}  // namespace

// Memory that cannot be had ends the program, as every other failure does: no
// exception unwinds through it, and no temporary file stays behind.
[[noreturn]] void outOfMemory() {
    removeLiveTemporary();
    printError("%s", _("schools: out of memory\n"));
    endProgram(1);
}

void watchMemory() {
    std::set_new_handler(outOfMemory);
}

void onProgramEnd(void (*handler)(int status)) {
    endHandler = handler;
}

std::string shownName(const std::string& name, const Reason& reason) {
    return reason.own == Reason::kTemporary || reason.own == Reason::kCopy ? reason.folder : name;
}

void reportStreamError(const char* prefix, Reason reason) {
    const char* text = reason.own == Reason::kTerminal ? _("a terminal takes no school records")
                                                       : std::strerror(reason.error);
    const char* folder =
        reason.own == Reason::kTemporary ? _(" (the folder must take a temporary file)")
        : reason.own == Reason::kCopy    ? _(" (the folder must take a copy of the old contents)")
                                         : "";
    printError(*prefix ? "%s: %s%s\n" : "%s%s%s\n", prefix, text, folder);
}

void reportFileError(const char* message, const std::string& name, Reason reason) {
    writeOutput(message, std::strlen(message));
    writeOutput("\n", 1);
    reportStreamError(shownName(name, reason).c_str(), reason);
}

// Formatted on the stack, without allocating, as it must when memory has run out;
// a longer text (a long file name) on the heap.
void printError(const char* format, ...) {
    char text[1024];
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int size = std::max(std::vsnprintf(text, sizeof text, format, args), 0);
    if (static_cast<std::size_t>(size) < sizeof text) {
        writeError(text, static_cast<std::size_t>(size));
    } else {
        std::string longer(static_cast<std::size_t>(size) + 1, '\0');
        std::vsnprintf(&longer[0], longer.size(), format, again);
        writeError(longer.data(), static_cast<std::size_t>(size));
    }
    va_end(again);
    va_end(args);
}

void noteStaleCopy() {
    staleCopy = true;
}

void endProgram(int status) {
    status = status == 0 && staleCopy ? 3 : status;
    staleCopy = false;  // for the next session of a harness
    restoreConsole();
    flushOutput();
    // Output that was lost is a failure, as in every tool whose output matters.
    if (int lost = outputFailure()) {
        reportStreamError(_("schools: standard output"), Reason{lost});
        status = 1;
    }
    if (endHandler) {
        endHandler(status);
    }
    std::exit(status);
}
