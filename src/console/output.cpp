// Standard output: its buffer, the bytes written to it, the flush before every
// wait, and why it first failed. A leaf: it calls nothing of the program's.
#include "console/output.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "last_error.h"

namespace {

// One write per 64 KiB of output and per wait for input.
char outputBuffer[1 << 16];
int firstFailure = 0;  // why standard output first failed, 0 while it works

// Where lines are edited, what was written since the last line end: the editor
// shows it again as the prompt of the line it reads.
bool followingLine = false;
std::string lineShown;

}  // namespace

void bufferOutput() {
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
}

void writeOutput(const char* bytes, std::size_t size) {
    errno = 0;
    if (std::fwrite(bytes, 1, size, stdout) != size && firstFailure == 0) {
        firstFailure = lastError();  // the write's own reason, before anything changes it
    }
    if (followingLine) {
        std::size_t lineAt = size;
        while (lineAt > 0 && bytes[lineAt - 1] != '\n') {
            --lineAt;
        }
        if (lineAt > 0) {
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

std::string takeShownLine() {
    std::string line;
    line.swap(lineShown);
    return line;
}
