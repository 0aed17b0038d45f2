// Numbered menus chosen with a single key.
#pragma once

#include <cstdint>

// A menu table: the title, the items in display order, then a null pointer.
using MenuTable = const char* const[];

// Draws the menu on a cleared console and returns the number of the item whose key
// is pressed; every other key is ignored. Back after a stop, it is drawn again.
std::int16_t menu(const char* const* t);
