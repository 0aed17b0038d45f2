// What the input of the dialogue (dialogue.cpp) lends the pages of a listing and
// the replies to questions.
#pragma once

#include "console.h"  // inputIsTerminal

// Whether the terminal speaks UTF-8 while records hold code page 1251.
bool typesUtf8();
