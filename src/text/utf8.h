// UTF-8 written: the one encoder of a character, for every room that writes one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "text/ascii.h"

// Writes the character at `out` in UTF-8, at most 4 bytes, and returns the end. A
// surrogate, which UTF-8 has no place for, still takes its three bytes.
constexpr char* putUtf8(std::uint32_t code, char* out) {
    if (code < 0x80) {
        *out++ = static_cast<char>(code);
    } else if (code < 0x800) {
        *out++ = static_cast<char>(0xC0 | (code >> 6));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (code >> 12));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (code >> 18));
        *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

// Appends the character in UTF-8.
inline void appendUtf8(std::uint32_t code, std::string* out) {
    char bytes[4];
    out->append(bytes, static_cast<std::size_t>(putUtf8(code, bytes) - bytes));
}

// Shows each control character of UTF-8 text as kControlMask, as a terminal is
// to see it: the C1 controls U+0080..U+009F (0xC2 and a byte below 0xA0) as one,
// then C0 and DEL.
inline void maskUtf8Controls(std::string* text) {
    std::string& s = *text;
    for (std::size_t at = 0; at + 1 < s.size(); ++at) {
        if (s[at] == '\xC2' && static_cast<unsigned char>(s[at + 1]) < 0xA0) {
            s.replace(at, 2, 1, kControlMask);
        }
    }
    maskControls(&s[0], s.size(), false);
}
