// Code page 1251 (Windows Cyrillic), byte by character: the table that both the
// Windows console's text and the conversions of text/ go by. Data alone, so that
// a platform file may use it and stay a leaf.
#pragma once

#include <cstdint>

// Unicode code points of bytes 0x80..0xBF; bytes 0xC0..0xFF are U+0410..U+044F in
// order. The code page leaves 0x98 undefined: it is U+0098, as in the web's index of
// windows-1251, so that every byte of a record goes out and comes back.
inline constexpr std::uint16_t kUpperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

// False when the code page lacks the character.
inline bool toCp1251(std::uint32_t code, char* byte) {
    if (code < 0x80) {
        *byte = static_cast<char>(code);
        return true;
    }
    if (code >= 0x410 && code <= 0x44F) {
        *byte = static_cast<char>(0xC0 + (code - 0x410));
        return true;
    }
    for (int i = 0; i < 64; ++i) {
        if (kUpperHalf[i] == code) {
            *byte = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

// The character of a byte of code page 1251 (0x98 is U+0098), for a console that
// takes UTF-16.
inline std::uint16_t unicodeOfCp1251(unsigned char byte) {
    return byte < 0x80    ? byte
           : byte >= 0xC0 ? static_cast<std::uint16_t>(0x410 + (byte - 0xC0))
                          : kUpperHalf[byte - 0x80];
}

// The byte of code page 1251 for a character; '?' where the code page lacks it.
inline char cp1251OfUnicode(std::uint32_t code) {
    char byte = '?';
    toCp1251(code, &byte);
    return byte;
}
