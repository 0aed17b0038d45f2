// Standard output: its buffer, the bytes written to it, the flush before every
// wait, and why it first failed; and standard error. A leaf over the platform's
// console: it calls nothing else of the program's.
#include "system/output.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "system/last_error.h"
#include "system/platform.h"

namespace {

// One write per 64 KiB of output and per wait for input.
char outputBuffer[1 << 16];
int firstFailure = 0;   // why standard output first failed, 0 while it works
bool lineEnded = true;  // nothing written yet, or the last byte sent the cursor to a line's start

// A console that takes characters gets the text kept here at each flush; looked up
// at the first write, which may come before bufferOutput (--help).
enum class Console { kUnknown, kText, kBytes } outputConsole = Console::kUnknown;
std::string consoleText;

bool toConsole() {
    if (outputConsole == Console::kUnknown) {
        outputConsole = takesConsoleText(1) ? Console::kText : Console::kBytes;
    }
    return outputConsole == Console::kText;
}

void noteFailure(int reason) {
    if (firstFailure == 0) {
        firstFailure = reason;
    }
}

// At a terminal, what was written since the last line end, and the last whole
// line before it: a line read shows them again after a stop, and the line editor
// shows the first as its prompt.
bool followingLine = false;
std::string lineShown;
std::string lineAbove;

}  // namespace

void bufferOutput() {
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
}

void writeDrawing(const char* bytes, std::size_t size) {
    errno = 0;
    if (toConsole()) {
        consoleText.append(bytes, size);
        if (consoleText.size() >= sizeof outputBuffer) {
            flushOutput();
        }
    } else if (std::fwrite(bytes, 1, size, stdout) != size) {
        noteFailure(lastError());  // the write's own reason, before anything changes it
    }
}

void writeOutput(const char* bytes, std::size_t size) {
    writeDrawing(bytes, size);
    if (size > 0) {
        lineEnded = bytes[size - 1] == '\n' || bytes[size - 1] == '\r';
    }
    if (followingLine) {
        std::size_t lineAt = size;
        while (lineAt > 0 && bytes[lineAt - 1] != '\n') {
            --lineAt;
        }
        if (lineAt > 0) {
            std::size_t begin = lineAt - 1;
            while (begin > 0 && bytes[begin - 1] != '\n') {
                --begin;
            }
            lineAbove = (begin == 0 ? lineShown : std::string()) +
                        std::string(bytes + begin, lineAt - 1 - begin);
            lineShown.clear();
        }
        lineShown.append(bytes + lineAt, size - lineAt);
    }
}

void flushOutput() {
    errno = 0;
    if (toConsole()) {
        if (int failure = consoleText.empty()
                              ? 0
                              : writeConsoleText(1, consoleText.data(), consoleText.size())) {
            noteFailure(failure);
        }
        consoleText.clear();
    } else if (std::fflush(stdout) != 0) {
        noteFailure(lastError());
    }
}

int outputFailure() {
    if (outputConsole == Console::kText) {
        return firstFailure;
    }
    return std::ferror(stdout) ? (firstFailure != 0 ? firstFailure : EIO) : 0;
}

bool atLineStart() {
    return lineEnded;
}

void markLineEnded() {
    lineEnded = true;
}

void writeError(const char* bytes, std::size_t size) {
    flushOutput();
    if (!takesConsoleText(2) || writeConsoleText(2, bytes, size) != 0) {
        std::fwrite(bytes, 1, size, stderr);
    }
}

void followShownLine() {
    followingLine = true;
}

const std::string& shownLine() {
    return lineShown;
}

std::string promptAbove() {
    return lineShown.empty() ? lineAbove : std::string();
}

void forgetShownLines() {
    lineShown.clear();
    lineAbove.clear();
}
