// Numbers as the dialogue reads and prints them: signed decimal in the 32-bit range.
#pragma once

#include <cstddef>
#include <cstdint>

// The number in decimal, as "%d" prints it: at most 11 bytes.
char* putNumber(std::int32_t value, char* out);
// Parses a number at the start of `text` as readNumber does, after its white space.
// Returns the count of bytes used, 0 when no number can be formed.
std::size_t parseNumber(const char* text, std::size_t size, std::int32_t* value);
