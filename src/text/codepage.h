// Code page 1251 (Windows Cyrillic), in which records store their texts, and
// UTF-8, which a terminal may speak: pure conversions between the two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "system/cp1251.h"  // unicodeOfCp1251, cp1251OfUnicode

// Room that a record text of `size` bytes may take in UTF-8 (a character is at
// most 3 bytes).
constexpr std::size_t textRoom(std::size_t size) {
    return 3 * size;
}

// Writes `length` bytes of code page 1251 text as UTF-8; returns the end.
char* encodeUtf8(const char* text, std::size_t length, char* out);

// Converts typed UTF-8 to code page 1251: a character the code page lacks, and each
// byte that is not part of a valid sequence, becomes '?'.
std::string utf8ToCp1251(const std::string& text);

// Writes UTF-8 text in code page 1251 at `out`, which has room for `size` bytes,
// and returns the end. Returns null when it cannot convert without loss, with
// `lacking` the first character that the code page lacks, or kNotUtf8 where a byte
// is not valid UTF-8.
constexpr std::uint32_t kNotUtf8 = 0xFFFFFFFF;
char* utf8ToCp1251Exactly(const char* text, std::size_t size, char* out, std::uint32_t* lacking);

// Shows each control of a code page 1251 text as kControlMask: ASCII's, and byte
// 0x98 (U+0098), the one C1 control the code page holds. NUL bytes, which end or
// pad a record's text, stay.
void maskCp1251Controls(char* text, std::size_t size);

// The UTF-8 sequence at `p`, of at most `left` bytes: its length and its character,
// or 0 when it is not a well-formed sequence. Any byte below 0x80 is one character.
std::size_t utf8SequenceAt(const char* p, std::size_t left, std::uint32_t* code);
// Whether the bytes are all well-formed UTF-8.
bool isUtf8(const char* text, std::size_t size);
