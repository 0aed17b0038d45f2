// What the parts of the dialogue lend each other: standard output (output.cpp)
// and the byte stream of the input (dialogue.cpp), which the pages of a listing
// and the print road (pages.cpp) build on.
#pragma once

#include <cstddef>
#include <string>

// ---- Standard output, a leaf --------------------------------------------------

// Gives standard output its buffer.
void bufferOutput();
// Every byte the dialogue prints passes here.
void writeOutput(const char* bytes, std::size_t size);
// Shows what was written, remembering why when standard output cannot take it.
void flushOutput();
// Why standard output lost what was written to it; 0 when nothing was lost.
int outputFailure();
// From now on, remembers what was written since the last line end: the line
// editor shows it as the prompt of the line it reads.
void followShownLine();
// What was written since the last line end; then forgotten, as the line end
// typed moves on to a new line.
std::string takeShownLine();

// ---- Input ----------------------------------------------------------------------

// Whether the keys come from a terminal (on Windows a console), not a script.
bool inputIsTerminal();
