// What the parts of the dialogue lend each other: the byte stream and the output
// (dialogue.cpp), the pages of a listing (pages.cpp), the failures (failures.cpp).
#pragma once

#include <cstddef>

// Shows the text a screenful at a time while a listing is paged; false, having
// shown nothing, when none is.
bool showPaged(const char* text, std::size_t size);
// Whether the keys come from a terminal (on Windows a console), not a script.
bool inputIsTerminal();
// Shows what was printed, remembering why when standard output cannot take it.
void flushOutput();
// Remembers why a write to standard output failed; the first reason stays.
void noteOutputFailure(int reason);
