// The files on either side of a conversion: read whole, written as command 2 writes
// a school file, and every failure said on standard error with status 1.
#pragma once

#include <cstdio>
#include <string>

#include "failures.h"
#include "files/school_files.h"

// The size of a stream that can be sought (a file), -1 for one that cannot (a pipe).
long sizeOf(std::FILE* stream);
// Reads the stream to its end, or until it holds more than `limit` bytes. Returns
// 0, or the reason of a read error.
int readWhole(std::FILE* stream, std::size_t limit, std::string* bytes);
// "schools: NAME: reason", status 1.
[[noreturn]] void failOn(const std::string& name, Reason reason);
// "schools: NAME: what" (translated), status 1.
[[noreturn]] void failWith(const char* what, const std::string& name);
// Writes the bytes as command 2 writes a school file, and ends the program.
[[noreturn]] void writeAtomically(const std::string& name, const std::string& bytes);

// Where a conversion's bytes go, piece by piece: standard output (an empty name), or
// the named file, written as command 2 writes a school file.
struct Sink {
    std::string name;
    AtomicWrite file;
};
void openSink(const std::string& name, Sink* sink);
void putIntoSink(Sink* sink, const char* bytes, std::size_t size);
// Puts the file in place, or sees standard output written; ends the program.
[[noreturn]] void closeSink(Sink* sink);
