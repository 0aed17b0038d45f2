// Standard output, a leaf under the dialogue and the failure reports: its
// buffer, the bytes written to it, the flush, and its first failure; and the
// texts written to standard error. Where either is a console that takes
// characters (on Windows), its text goes there as characters.
#pragma once

#include <cstddef>
#include <string>

// Gives standard output its buffer.
void bufferOutput();
// Every byte the dialogue prints passes here.
void writeOutput(const char* bytes, std::size_t size);
// Bytes that are no part of the dialogue's lines (a screen cleared, a line the
// editor draws again): written as the rest, and not followed as the line shown.
void writeDrawing(const char* bytes, std::size_t size);
// Shows what was written, remembering why when standard output cannot take it.
void flushOutput();
// Why standard output lost what was written to it; 0 when nothing was lost.
int outputFailure();
// Whether the last byte written, or the line end typed after it, left the cursor at
// the start of a line.
bool atLineStart();
// A line end typed was echoed by the terminal.
void markLineEnded();
// Writes to standard error at once, after what standard output holds.
void writeError(const char* bytes, std::size_t size);
// From now on, remembers what was written since the last line end, and the last
// whole line before it (at a terminal, where a stop may call for them again).
void followShownLine();
// What was written since the last line end: the line editor shows it as the
// prompt of the line it reads.
const std::string& shownLine();
// The prompt printed with its line end, where the line read starts a new one.
std::string promptAbove();
// Forgets both, as the line end typed moves on to a new line.
void forgetShownLines();
