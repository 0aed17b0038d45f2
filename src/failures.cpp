// How the program reports a failure, and how it ends: what standard output
// holds goes first, and output that was lost makes the end a failure.
#include "failures.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>

#include "system/file_calls.h"
#include "system/output.h"
#include "system/platform.h"
#include "translate.h"

namespace {

void (*endHandler)(int status) = nullptr;

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

void reportStreamError(const char* prefix, Reason reason) {
    flushOutput();
    const char* text = reason.own == Reason::kTerminal ? _("a terminal takes no school records")
                                                       : std::strerror(reason.error);
    std::fprintf(stderr, *prefix ? "%s: %s\n" : "%s%s\n", prefix, text);
}

void reportFileError(const char* message, const std::string& name, Reason reason) {
    writeOutput(message, std::strlen(message));
    writeOutput("\n", 1);
    reportStreamError(name.c_str(), reason);
}

void printError(const char* format, ...) {
    flushOutput();
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void endProgram(int status) {
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
