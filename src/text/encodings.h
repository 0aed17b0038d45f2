// The encodings in which spreadsheets write text files, turned into UTF-8.
#pragma once

#include <cstddef>
#include <string>

// kUnmarked: no byte-order mark; kCp1251 is never marked, but found out.
enum class Encoding { kUnmarked, kUtf8, kCp1251, kUtf16LittleEndian, kUtf16BigEndian };

// The encoding that a byte-order mark at the start of the bytes names, and the
// mark's length; kUnmarked and 0 when they begin with none.
Encoding markedEncoding(const char* bytes, std::size_t size, std::size_t* markSize);

// UTF-16 as UTF-8. A surrogate without its pair is passed on as its three bytes,
// which are no UTF-8, and an odd last byte as 0xFF, which is none either.
void utf16ToUtf8(const char* bytes, std::size_t size, bool bigEndian, std::string* out);

// Windows-1251 (code page 1251) as UTF-8: every byte is a character.
void cp1251ToUtf8(const char* bytes, std::size_t size, std::string* out);

// Where bytes that are not all UTF-8 first break it, and how much of them is UTF-8
// all the same, line by line (lines end in LF).
struct Utf8Breaks {
    std::size_t line = 0, column = 0;  // of the first byte that is not UTF-8, from 1,
    unsigned char byte = 0;            // the column in characters; 0: there is none
    std::size_t utf8Lines = 0;         // lines with characters beyond ASCII, all UTF-8
    std::size_t brokenLines = 0;       // lines with a byte that is not UTF-8
};
void findUtf8Breaks(const char* bytes, std::size_t size, Utf8Breaks* breaks);

// Whether UTF-8 text looks like UTF-8 Cyrillic read as Latin-1 or Windows-1252 and
// saved so ("\u00D0\u00A1" for "\u0421"): its characters, taken back to the bytes
// they were read from, are UTF-8 that holds Cyrillic.
bool looksLikeMisreadUtf8(const char* text, std::size_t size);
