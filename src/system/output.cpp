// Standard output: its buffer, the bytes written to it, the flush before every
// wait, and why it first failed. A leaf: it calls nothing of the program's.
#include "system/output.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "system/last_error.h"

namespace {

// One write per 64 KiB of output and per wait for input.
char outputBuffer[1 << 16];
int firstFailure = 0;  // why standard output first failed, 0 while it works

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
    if (std::fwrite(bytes, 1, size, stdout) != size && firstFailure == 0) {
        firstFailure = lastError();  // the write's own reason, before anything changes it
    }
}

void writeOutput(const char* bytes, std::size_t size) {
    writeDrawing(bytes, size);
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
    if (std::fflush(stdout) != 0 && firstFailure == 0) {
        firstFailure = lastError();
    }
}

int outputFailure() {
    return std::ferror(stdout) ? (firstFailure != 0 ? firstFailure : EIO) : 0;
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
