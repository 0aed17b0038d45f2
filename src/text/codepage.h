// Code page 1251 (Windows Cyrillic), in which records store their texts, and
// UTF-8, which a terminal may speak: pure conversions between the two.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Room that a record text of `size` bytes may take in UTF-8 (a character is at
// most 3 bytes).
constexpr std::size_t textRoom(std::size_t size) {
    return 3 * size;
}

// Writes `length` bytes of code page 1251 text as UTF-8; returns the end.
char* encodeUtf8(const char* text, std::size_t length, char* out);

// The character of a byte of code page 1251 (0x98 is U+0098), for a console that
// takes UTF-16.
std::uint16_t unicodeOfCp1251(unsigned char byte);
// The byte of code page 1251 for a character; '?' where the code page lacks it.
char cp1251OfUnicode(std::uint32_t code);

// Converts typed UTF-8 to code page 1251: a character the code page lacks, and each
// byte that is not part of a valid sequence, becomes '?'.
std::string utf8ToCp1251(const std::string& text);

// Writes UTF-8 text in code page 1251 at `out`, which has room for `size` bytes,
// and returns the end. Returns null when it cannot convert without loss, with
// `lacking` the first character that the code page lacks, or kNotUtf8 where a byte
// is not valid UTF-8.
constexpr std::uint32_t kNotUtf8 = 0xFFFFFFFF;
char* utf8ToCp1251Exactly(const char* text, std::size_t size, char* out, std::uint32_t* lacking);

// The UTF-8 sequence at `p`, of at most `left` bytes: its length and its character,
// or 0 when it is not a well-formed sequence. Any byte below 0x80 is one character.
std::size_t utf8SequenceAt(const char* p, std::size_t left, std::uint32_t* code);
// Whether the bytes are all well-formed UTF-8.
bool isUtf8(const char* text, std::size_t size);
