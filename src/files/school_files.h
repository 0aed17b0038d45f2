// School files on disk: opened for reading, and written so that the old contents
// survive any failure.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "failures.h"

// Notes what the program's own streams are, so that no write replaces them; a
// stream closed at start stays closed. Called at start.
void noteStandardStreams();
// Prepares instead of the dialogue a run that converts files: the memory watch and
// the standard streams as at start, standard input and output untranslated (on
// Windows too), the console as found, and a school file being written guarded as
// in the dialogue (signals, file-size limits, the program's own streams).
void setBinaryStreams();

// Opens an existing file for binary reading; a folder counts as a file that
// cannot be opened, and so does a name holding a NUL byte. Returns null, with the
// reason, on failure.
std::FILE* openForReading(const std::string& name, Reason* reason);
// How many whole school records the regular file of that name holds; 0 when it is
// no regular file or cannot be read.
long long schoolsHeldBy(const std::string& name);
// Whether the stream reads the regular file that standard output writes, where
// what is written would change what is read.
bool isStandardOutput(std::FILE* stream);
// Whether the name leads to the file open as `stream` (false where the system
// cannot tell).
bool namesFileOf(const std::string& name, std::FILE* stream);

// A file being written so that the old contents survive any failure: records go
// to a temporary file beside it, which takes the file's name only when complete
// and takes over its owner, group, permissions and extended attributes. Where the
// writer cannot give it all of those, the records go through the file itself,
// after a copy of its old contents beside it that a failure puts back. A
// symbolic link is followed only where the system lets this process open it for
// writing. Names that are not regular files (devices, pipes) are written to
// directly; the program's own standard output and error are written through their
// streams, its standard input and terminals refused.
struct AtomicWrite {
    std::FILE* stream = nullptr;  // where the records go
    std::string target;           // the file that will hold them
    std::string temporary;        // empty when writing to the target directly
    bool createdTarget = false;   // a dangling link's target, created by the open
    unsigned finalMode = 0;       // permissions with special bits, set once written
    std::string copy;             // written through: the old contents, until synced
    int copyFd = -1;
    int targetFd = -1;  // written through: the file, open to take the copy back
    Reason::Own folderFault = Reason::kNone;  // the file the folder refused to take
};

// Each returns the reason of a failure, if any; after a failure nothing is left
// behind and the old file is as it was.
Reason beginAtomicWrite(const std::string& name, AtomicWrite* file);
// Flushes, syncs and closes, then puts the file in place.
Reason finishAtomicWrite(AtomicWrite* file);
// Gives up after a write error: the old file stays as it was.
void abandonAtomicWrite(AtomicWrite* file);

// After a load, on standard error: the file's last `bytes` bytes, too few for a
// school, were not loaded.
void reportTornEnd(const std::string& name, std::size_t bytes);
