// What the input of the dialogue (dialogue.cpp) lends the pages of a listing.
#pragma once

// Whether the keys come from a terminal (on Windows a console), not a script.
bool inputIsTerminal();
