// The pieces of a school file's write that its two roads share, and the road
// through the file itself: for school_files.cpp alone.
#pragma once

#include <cstdio>
#include <string>

#include "failures.h"
#include "files/school_files.h"
#include "system/file_calls.h"

// Whether the facts describe one file.
bool sameFile(const FileFacts& a, const FileFacts& b);
// A stream over the descriptor, which is closed when none can be made.
std::FILE* streamOver(int fd, const char* mode, int* reason);
// Creates ".NAME.XXXXXX" beside the target (`fresh`: with the permissions a new
// file gets, otherwise the owner's alone); returns the error, with its name and
// descriptor.
int createTemporary(const std::string& target, bool fresh, std::string* name, int* fd);
// Notes a folder that refused to take the file `what` (the temporary or the copy).
void noteFolderFault(int error, Reason::Own what, AtomicWrite* file);

// The records go through the file itself, open as `fd`, after a copy of its old
// contents beside it.
int beginWriteThrough(int fd, const FileFacts& facts, AtomicWrite* file);
// Removes the copy once it is needed no more; one that stays is named.
void dropCopy(AtomicWrite* file);
// Gives up a write through the file: its old contents go back.
void putBackOldContents(AtomicWrite* file);
