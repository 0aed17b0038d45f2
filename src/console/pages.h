// What the dialogue and the pages of a listing (console/pages.cpp) lend each other.
#pragma once

#include <cstddef>

// Shows the text a screenful at a time while a listing is paged; false, having
// shown nothing, when none is.
bool showPaged(const char* text, std::size_t size);
// Whether the keys come from a terminal (on Windows a console), not a script.
bool inputIsTerminal();
