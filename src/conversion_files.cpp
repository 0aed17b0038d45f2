// Whole files in and out of the conversions, and their failures.
#include "conversion_files.h"

#include <algorithm>
#include <cerrno>

#include "console.h"
#include "system/last_error.h"

namespace {

constexpr std::size_t kChunk = 1 << 16;

}  // namespace

long sizeOf(std::FILE* stream) {
    if (std::fseek(stream, 0, SEEK_END) != 0) {
        return -1;
    }
    long size = std::ftell(stream);
    return std::fseek(stream, 0, SEEK_SET) == 0 ? size : -1;
}

int readWhole(std::FILE* stream, std::size_t limit, std::string* bytes) {
    // A file in one piece of its size and a byte to see its end, a pipe in chunks.
    long size = sizeOf(stream);
    std::size_t chunk = size >= 0 ? std::min(static_cast<std::size_t>(size), limit) + 1 : kChunk;
    while (bytes->size() <= limit) {
        std::size_t at = bytes->size();
        bytes->resize(at + chunk);
        std::size_t got = std::fread(&(*bytes)[at], 1, chunk, stream);
        bytes->resize(at + got);
        if (got < chunk) {
            return std::ferror(stream) ? lastError() : 0;  // the read failed
        }
        chunk = kChunk;
    }
    return 0;
}

void failOn(const std::string& name, Reason reason) {
    reportStreamError(("schools: " + shownName(name, reason)).c_str(), reason);
    endProgram(1);
}

void failWith(const char* what, const std::string& name) {
    printError("schools: %s: %s\n", name.c_str(), what);
    endProgram(1);
}

void writeAtomically(const std::string& name, const std::string& bytes) {
    Sink sink;
    openSink(name, &sink);
    putIntoSink(&sink, bytes.data(), bytes.size());
    closeSink(&sink);
}

void openSink(const std::string& name, Sink* sink) {
    sink->name = name;
    Reason reason;
    if (!name.empty() && failed(reason = beginAtomicWrite(name, &sink->file))) {
        failOn(name, reason);
    }
}

void putIntoSink(Sink* sink, const char* bytes, std::size_t size) {
    if (sink->name.empty()) {
        printBytes(bytes, size);
        if (std::ferror(stdout)) {
            endProgram(1);  // which says why
        }
        return;
    }
    errno = 0;
    if (std::fwrite(bytes, 1, size, sink->file.stream) != size || std::ferror(sink->file.stream)) {
        Reason reason{lastError()};  // the write failed
        abandonAtomicWrite(&sink->file);
        failOn(sink->name, reason);
    }
}

void closeSink(Sink* sink) {
    Reason reason;
    if (!sink->name.empty() && failed(reason = finishAtomicWrite(&sink->file))) {
        failOn(sink->name, reason);
    }
    endProgram(0);
}
