// How the program reports a failure, and how it ends: what standard output
// holds goes first, and output that was lost makes the end a failure.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "console/dialogue.h"
#include "console/platform.h"
#include "translate.h"

namespace {

int outputFailure = 0;  // why standard output first failed, 0 while it works
void (*endHandler)(int status) = nullptr;

}  // namespace

// Shows what was printed, remembering why when standard output cannot take it.
void flushOutput() {
    if (std::fflush(stdout) != 0 && outputFailure == 0) {
        outputFailure = errno;
    }
}

void onProgramEnd(void (*handler)(int status)) {
    endHandler = handler;
}

void reportStreamError(const char* prefix, int reason) {
    flushOutput();
    const char* text =
        reason == kReasonTerminal ? _("a terminal takes no school records") : std::strerror(reason);
    std::fprintf(stderr, *prefix ? "%s: %s\n" : "%s%s\n", prefix, text);
}

void reportFileError(const char* message, const std::string& name, int reason) {
    printLine(message);
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
    if (std::ferror(stdout)) {
        reportStreamError(_("schools: standard output"), outputFailure != 0 ? outputFailure : EIO);
        status = 1;
    }
    if (endHandler) {
        endHandler(status);
    }
    std::exit(status);
}
